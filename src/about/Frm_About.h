#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The About window: product name, version, the maker's lines and the maker's web address as a
// link. Modal; it closes with OK or as soon as another window of the program becomes active.
class Frm_About : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kProductName = "ZEL";
    static constexpr const char* kCopyright = "Copyright \u00a9 2026 Corvane Audio";
    static constexpr const char* kCompany = "Corvane Audio, example.org";
    static constexpr const char* kTrademarks = "";
    static constexpr const char* kComments = "";
    static constexpr const char* kMakerWebAddress = "www.example.org/corvane";

    explicit Frm_About(QWidget* parent = nullptr);

    QString WWW() const { return www_; }
    void SetWWW(const QString& address) { www_ = address; }

    void Form_Load();
    void Form_Activate();
    void Form_Deactivate();
    void Lbl_WWW_Click();
    void Cmd_OK_Click();

    QLabel* Picture1;
    QLabel* Lbl_Copyright;
    QLabel* Lbl_Company;
    QLabel* Lbl_Trademarks;
    QLabel* Lbl_Comments;
    QPushButton* Cmd_OK;
    QLabel* Picture2;
    QLabel* Lbl_Version;
    QLabel* Lbl_Product;
    QLabel* Lbl_WWW;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString www_;
};

#pragma once

#include <QLockFile>
#include <QObject>
#include <memory>

class QLocalServer;

// One player per program folder: two would play everything twice and race over the settings
// file. The first start holds a lock file in the folder and listens on a local socket named after
// the folder; a later start finds the lock taken and asks the first to come forward instead. A lock
// left by a killed player does not count.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Whether this process plays for the folder.
    bool IsFirst() const { return first_; }
    // From a later start: asks the first to show its window. False when it did not answer.
    bool AskFirstToShow() const;

signals:
    // In the first: a later start asked for the window.
    void ShowRequested();

private:
    QString name_;
    QLockFile lock_;
    bool first_ = false;
    QLocalServer* server_ = nullptr;
};

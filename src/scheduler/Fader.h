#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

// A level that moves from one value to another in steps of 10 ms, on a timer of its own: the
// music ducking for a message and rising after it (one level unit a step), Next Track's short fade
// and closing time's longer one (even steps over a length). Each step hands the new level to the
// fade's `apply`; the last level is held for one step before `done` runs, so whatever follows the
// fade comes after its last step has been heard as long as the others.
class Fader : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kStep{10};
    using Apply = std::function<void(int level)>;
    using Done = std::function<void()>;

    explicit Fader(QObject* parent = nullptr);

    // One level unit a step: |to - from| steps. The first level is applied at once.
    void ByUnits(int from, int to, Apply apply, Done done);
    // Even steps over `length`, the first one step from now; at least one step.
    void Over(int from, int to, std::chrono::milliseconds length, Apply apply, Done done);
    // The fade ends at `to` instead, going on from the level it has reached; a fade by units
    // takes as many steps as it now has units to go.
    void Retarget(int to);
    // Holds the fade where it stands, and lets it go on from there.
    void Hold();
    void Release();
    // Ends the fade without another step, and without its `done`.
    void Cancel();

    // A fade is under way, held or not.
    bool Running() const { return running_; }
    bool Held() const { return held_; }
    int Level() const { return level_; }
    int Target() const { return to_; }

private:
    void Begin(int from, int to, int steps, bool byUnits, Apply apply, Done done);
    void Step();
    int LevelAt(int step) const;

    QTimer timer_;
    Apply apply_;
    Done done_;
    int from_ = 0;
    int to_ = 0;
    int level_ = 0;
    int steps_ = 0;
    int step_ = 0;
    bool byUnits_ = false;
    bool running_ = false;
    bool held_ = false;
};

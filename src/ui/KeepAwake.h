#pragma once
// Keeps the computer and the display awake while the program runs, and
// raises the process priority, so that a long acquisition is neither
// suspended nor starved. Best effort: whatever the system refuses is
// skipped silently.
#include <QObject>

#include <memory>

class KeepAwake : public QObject {
    Q_OBJECT
public:
    explicit KeepAwake(QObject* parent = nullptr);
    ~KeepAwake() override;

    // Whether a sleep or screen-saver inhibition is in force (it arrives
    // asynchronously, a moment after construction).
    bool Inhibiting() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

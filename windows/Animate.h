#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

// A short clip of a file being deleted: a page flies from a folder into a bin. Plays the frames
// from StartFrame to StopFrame once per repetition, then raises OnStop.
class TAnimate : public QWidget
{
    Q_OBJECT
public:
    explicit TAnimate(QWidget *parent = nullptr);

    static constexpr int FrameCount = 24;
    int StartFrame = 1;
    int StopFrame = FrameCount;
    int Repetitions = 1;
    int FrameInterval = 60; // milliseconds
    std::function<void(QObject *Sender)> OnStop;

    bool Active() const { return m_timer.isActive(); }
    // During OnStop: true when the clip ran to its last frame, false when Stop cut it short.
    bool Finished() const { return m_finished; }
    int CurrentFrame() const { return m_frame; }
    void Play(int fromFrame, int toFrame, int count);
    void Stop();

    QSize sizeHint() const override { return QSize(272, 60); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void step();

    QTimer m_timer;
    int m_frame = 1;
    int m_to = FrameCount;
    int m_from = 1;
    int m_left = 0;
    bool m_finished = false;
};

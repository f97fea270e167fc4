#include "Animate.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

TAnimate::TAnimate(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Usuwaj"));
    setAccessibleName(QStringLiteral("Usuwaj"));
    m_timer.setInterval(FrameInterval);
    connect(&m_timer, &QTimer::timeout, this, &TAnimate::step);
}

void TAnimate::Play(int fromFrame, int toFrame, int count)
{
    m_from = std::clamp(fromFrame, 1, FrameCount);
    m_to = std::clamp(toFrame, m_from, FrameCount);
    m_left = std::max(count, 1);
    m_frame = m_from;
    m_timer.setInterval(FrameInterval);
    m_timer.start();
    update();
}

void TAnimate::Stop()
{
    if (!m_timer.isActive()) return;
    m_timer.stop();
    if (OnStop) OnStop(this);
    m_finished = false;
}

void TAnimate::step()
{
    if (m_frame < m_to) {
        ++m_frame;
        update();
        return;
    }
    if (--m_left > 0) {
        m_frame = m_from;
        update();
        return;
    }
    m_finished = true;
    Stop();
}

void TAnimate::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int h = height();
    const int w = width();
    // Folder on the left.
    const QRectF folder(8, h / 2.0 - 12, 44, 30);
    p.setPen(QPen(QColor(0x8a, 0x5a, 0x00), 1.2));
    p.setBrush(QColor(0xff, 0xd5, 0x4f));
    p.drawRoundedRect(folder.adjusted(0, -5, -24, -20), 2, 2);
    p.drawRoundedRect(folder, 3, 3);
    // Bin on the right.
    const QRectF bin(w - 44, h / 2.0 - 14, 32, 34);
    p.setPen(QPen(QColor(0x45, 0x5a, 0x64), 1.2));
    p.setBrush(QColor(0xcf, 0xd8, 0xdc));
    p.drawRect(bin.adjusted(-3, -5, 3, -bin.height() + 1));
    QPainterPath body;
    body.moveTo(bin.left(), bin.top());
    body.lineTo(bin.right(), bin.top());
    body.lineTo(bin.right() - 3, bin.bottom());
    body.lineTo(bin.left() + 3, bin.bottom());
    body.closeSubpath();
    p.drawPath(body);
    // The page on its arc from folder to bin.
    const double t = (m_frame - 1) / double(FrameCount - 1);
    const double x = folder.center().x() + t * (bin.center().x() - folder.center().x()) - 9;
    const double y = folder.top() - 4 - std::sin(t * 3.14159265) * (h / 2.0 - 10) + t * 10;
    p.save();
    p.translate(x + 9, y + 11);
    p.rotate(t * 200);
    p.setPen(QPen(QColor(0x54, 0x6e, 0x7a), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(-9, -11, 18, 22));
    p.setPen(QPen(QColor(0x90, 0xa4, 0xae), 1));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(-5, -5 + i * 5), QPointF(5, -5 + i * 5));
    p.restore();
}

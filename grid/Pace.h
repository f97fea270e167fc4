#pragma once
// A redraw made at most every few milliseconds while rows stream in: repainting a count or a
// scroll bar at every batch of a long read costs its window more than taking the rows.
#include <QElapsedTimer>

#include <algorithm>

class TPace
{
public:
    explicit TPace(qint64 everyMs) : m_every(everyMs) {}
    // Milliseconds until the next redraw is due; 0 when it is due now, as before the first.
    qint64 wait() const
    {
        return m_last.isValid() ? std::max<qint64>(m_every - m_last.elapsed(), 0) : 0;
    }
    bool due() const { return wait() == 0; }
    // The redraw was made now.
    void done() { m_last.start(); }

private:
    qint64 m_every;
    QElapsedTimer m_last;
};

#include "sql_edit.h"

#include "SqlLexer.h"
#include "sql_highlighter.h"

#include <QFontDatabase>
#include <QPainter>
#include <QTextBlock>

// The margin that shows the line numbers; it paints through its editor.
class TSqlLineNumbers : public QWidget
{
public:
    explicit TSqlLineNumbers(TSqlEdit *editor) : QWidget(editor), m_editor(editor) {}
    QSize sizeHint() const override { return QSize(m_editor->LineNumberWidth(), 0); }

protected:
    void paintEvent(QPaintEvent *event) override { m_editor->paintLineNumbers(event); }

private:
    TSqlEdit *m_editor;
};

namespace {
// A QString position as a byte offset into the text's UTF-8 form.
std::size_t utf8Offset(const QString &text, int position)
{
    return std::size_t(QStringView(text).left(position).toUtf8().size());
}

std::vector<TSqlEdit::Piece> pieces(const QByteArray &utf8,
                                    const std::vector<sqllex::Statement> &statements)
{
    std::vector<TSqlEdit::Piece> out;
    for (const sqllex::Statement &s : statements)
        out.push_back({QString::fromUtf8(utf8.constData() + s.begin, qsizetype(s.end - s.begin)),
                       s.firstLine});
    return out;
}
} // namespace

TSqlEdit::TSqlEdit(QWidget *parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("SQL_edit"));
    setAccessibleName(QStringLiteral("SQL_edit"));
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    m_highlighter = new TSqlHighlighter(document());
    m_numbers = new TSqlLineNumbers(this);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { updateMargin(); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &rect, int dy) {
        // A long text is coloured where it is shown.
        const int first = firstVisibleBlock().blockNumber();
        const int lines = viewport()->height() / std::max(1, fontMetrics().lineSpacing()) + 1;
        m_highlighter->setShownLines(first, first + lines);
        m_highlighter->colourShown();
        if (dy)
            m_numbers->scroll(0, dy);
        else
            m_numbers->update(0, rect.y(), m_numbers->width(), rect.height());
    });
    updateMargin();
}

int TSqlEdit::LineNumberWidth() const
{
    int digits = 1;
    for (int lines = std::max(1, blockCount()); lines >= 10; lines /= 10)
        ++digits;
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(digits, 2);
}

void TSqlEdit::updateMargin()
{
    setViewportMargins(LineNumberWidth(), 0, 0, 0);
    const QRect area = contentsRect();
    m_numbers->setGeometry(area.left(), area.top(), LineNumberWidth(), area.height());
}

void TSqlEdit::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    updateMargin();
}

void TSqlEdit::paintLineNumbers(QPaintEvent *event)
{
    QPainter painter(m_numbers);
    painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= event->rect().bottom()) {
        const int height = qRound(blockBoundingRect(block).height());
        if (block.isVisible() && top + height >= event->rect().top())
            painter.drawText(0, top, m_numbers->width() - 4, height, Qt::AlignRight,
                             QString::number(block.blockNumber() + 1));
        block = block.next();
        top += height;
    }
}

std::vector<TSqlEdit::Piece> TSqlEdit::AllStatements() const
{
    return StatementsOf(Utf8Text());
}

QByteArray TSqlEdit::Utf8Text() const
{
    return toPlainText().toUtf8();
}

std::vector<TSqlEdit::Piece> TSqlEdit::StatementsOf(const QByteArray &utf8)
{
    return pieces(utf8,
                  sqllex::split(std::string_view(utf8.constData(), std::size_t(utf8.size()))));
}

std::vector<TSqlEdit::Piece> TSqlEdit::StatementsToRun() const
{
    const QString text = toPlainText();
    const QByteArray utf8 = text.toUtf8();
    const std::string_view view(utf8.constData(), std::size_t(utf8.size()));
    const std::vector<sqllex::Statement> all = sqllex::split(view);
    const QTextCursor cursor = textCursor();
    std::vector<sqllex::Statement> chosen;
    if (cursor.hasSelection()) {
        const std::size_t from = utf8Offset(text, cursor.selectionStart());
        const std::size_t to = utf8Offset(text, cursor.selectionEnd());
        for (const sqllex::Statement &s : all)
            if (s.end > from && s.begin < to) chosen.push_back(s);
    } else {
        const int at = sqllex::statementAt(all, view, utf8Offset(text, cursor.position()));
        if (at >= 0) chosen.push_back(all[std::size_t(at)]);
    }
    return pieces(utf8, chosen);
}

#include "sql_highlighter.h"

#include "SqlLexer.h"

#include <QTextDocument>

#include <algorithm>

namespace {
constexpr int OpenKinds = 8; // room for every sqllex::State::Open value
constexpr int ShownMargin = 100; // lines coloured beyond those shown, for a smooth scroll
// Marks a line that was read but not coloured.
struct Uncoloured : QTextBlockUserData
{
};
} // namespace

void TSqlHighlighter::setShownLines(int first, int last)
{
    m_firstShown = first;
    m_lastShown = last;
}

void TSqlHighlighter::colourShown()
{
    if (m_colouring || !document()) return;
    m_colouring = true;
    for (QTextBlock block = document()->findBlockByNumber(std::max(0, m_firstShown));
         block.isValid() && block.blockNumber() <= m_lastShown; block = block.next())
        if (dynamic_cast<Uncoloured *>(block.userData())) rehighlightBlock(block);
    m_colouring = false;
}

TSqlHighlighter::TSqlHighlighter(QTextDocument *document) : QSyntaxHighlighter(document)
{
    Keyword.setForeground(QColor(0, 0, 160));
    Keyword.setFontWeight(QFont::Bold);
    String.setForeground(QColor(160, 0, 0));
    Identifier.setForeground(QColor(128, 0, 128));
    Number.setForeground(QColor(0, 112, 112));
    Comment.setForeground(QColor(112, 112, 112));
    Comment.setFontItalic(true);
    DelimiterLine.setForeground(QColor(0, 96, 0));
    DelimiterLine.setFontWeight(QFont::Bold);
}

int TSqlHighlighter::delimiterNumber(const std::string &delimiter)
{
    const auto found = std::find(m_delimiters.begin(), m_delimiters.end(), delimiter);
    if (found != m_delimiters.end()) return int(found - m_delimiters.begin());
    m_delimiters.push_back(delimiter);
    return int(m_delimiters.size()) - 1;
}

void TSqlHighlighter::highlightBlock(const QString &text)
{
    sqllex::State state;
    const int previous = previousBlockState();
    if (previous >= 0) {
        state.open = static_cast<sqllex::State::Open>(previous % OpenKinds);
        const auto number = static_cast<std::size_t>(previous / OpenKinds);
        if (number < m_delimiters.size()) state.delimiter = m_delimiters[number];
    }
    const QByteArray utf8 = text.toUtf8();
    std::vector<sqllex::Token> tokens;
    state =
        sqllex::scan(std::string_view(utf8.constData(), std::size_t(utf8.size())), state, tokens);
    const int line = currentBlock().blockNumber();
    const bool colour = document()->blockCount() < LazyFrom ||
                        (line >= m_firstShown - ShownMargin && line <= m_lastShown + ShownMargin);
    setCurrentBlockState(int(state.open) + OpenKinds * delimiterNumber(state.delimiter));
    if (!colour) {
        if (!dynamic_cast<Uncoloured *>(currentBlockUserData()))
            setCurrentBlockUserData(new Uncoloured);
        return;
    }
    if (currentBlockUserData()) setCurrentBlockUserData(nullptr);
    // Byte offsets to the line's UTF-16 positions.
    std::vector<int> position(std::size_t(utf8.size()) + 1, 0);
    int at = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        position[std::size_t(i)] = at;
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if ((byte & 0xC0) != 0x80) at += byte >= 0xF0 ? 2 : 1; // a 4-byte character is a pair
    }
    position[std::size_t(utf8.size())] = int(text.size());
    for (const sqllex::Token &t : tokens) {
        const QTextCharFormat *format = nullptr;
        switch (t.kind) {
        case sqllex::Kind::Word:
            if (sqllex::isKeyword(std::string_view(utf8.constData() + t.begin, t.length)))
                format = &Keyword;
            break;
        case sqllex::Kind::String:
            format = &String;
            break;
        case sqllex::Kind::Identifier:
            format = &Identifier;
            break;
        case sqllex::Kind::Number:
            format = &Number;
            break;
        case sqllex::Kind::Comment:
            format = &Comment;
            break;
        case sqllex::Kind::DelimiterLine:
            format = &DelimiterLine;
            break;
        default:
            break;
        }
        if (!format) continue;
        const int from = position[t.begin];
        setFormat(from, position[t.begin + t.length] - from, *format);
    }
}

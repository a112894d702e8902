#include "wordlook.h"

#include <QFont>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QUrl>

namespace {

bool sameLook(const WordLook &a, const WordLook &b)
{
    // LibreOffice's HTML gives sizes in whole points (10.5 as 10).
    return a.face == b.face && qAbs(a.points - b.points) < 0.6 && a.bold == b.bold && a.italic == b.italic
           && a.underline == b.underline && a.strike == b.strike && a.colour == b.colour && a.script == b.script
           && a.caps == b.caps;
}

// Splits text into words, and words where their look changes.
class WordSplitter
{
public:
    void add(QStringView text, const WordLook &look)
    {
        for (const QChar ch : text) {
            if (ch.isSpace() || ch == QChar::Nbsp || ch == QChar::ObjectReplacementCharacter
                || ch == QChar::LineSeparator) {
                breakWord();
                continue;
            }
            if (m_open && !sameLook(words.last(), look))
                breakWord();
            if (!m_open) {
                words.append(look);
                words.last().text.clear();
                m_open = true;
            }
            words.last().text.append(ch);
        }
    }
    void breakWord() { m_open = false; }

    QList<WordLook> words;

private:
    bool m_open = false;
};

QString firstFace(QString value)
{
    value = value.section(u',', 0, 0).trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\''))
        value = value.mid(1, value.size() - 2);
    return value.trimmed();
}

void applyCss(WordLook &look, QStringView css)
{
    for (QStringView declaration : css.split(u';')) {
        const qsizetype colon = declaration.indexOf(u':');
        if (colon < 0)
            continue;
        const QString key = declaration.left(colon).trimmed().toString().toLower();
        const QString value = declaration.mid(colon + 1).trimmed().toString().toLower();
        const QString original = declaration.mid(colon + 1).trimmed().toString();
        if (key == u"font-family") {
            look.face = firstFace(original);
        } else if (key == u"font-size" && value.endsWith(u"pt")) {
            look.points = value.chopped(2).toDouble();
        } else if (key == u"font-weight") {
            look.bold = value == u"bold" || value.toInt() >= 600;
        } else if (key == u"font-style") {
            look.italic = value == u"italic" || value == u"oblique";
        } else if (key == u"text-decoration" || key == u"text-decoration-line") {
            // "none" takes nothing away: the decorations of the elements around still show.
            if (value.contains(u"underline"))
                look.underline = true;
            if (value.contains(u"line-through"))
                look.strike = true;
        } else if (key == u"font-variant") {
            if (value.contains(u"small-caps"))
                look.caps = 1;
            else if (look.caps == 1)
                look.caps = 0;
        } else if (key == u"text-transform") {
            if (value == u"uppercase")
                look.caps = 2;
            else if (look.caps == 2)
                look.caps = 0;
        } else if (key == u"color") {
            look.colour = value;
        } else if (key == u"vertical-align") {
            look.script = value == u"super" ? 1 : value == u"sub" ? 2 : 0;
        }
    }
}

QString decodeEntities(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            out.append(text[i]);
            continue;
        }
        const qsizetype semi = text.indexOf(u';', i);
        if (semi < 0 || semi - i > 10) {
            out.append(text[i]);
            continue;
        }
        const QStringView name = text.mid(i + 1, semi - i - 1);
        char32_t ch = 0;
        if (name.startsWith(u"#x") || name.startsWith(u"#X"))
            ch = name.mid(2).toUInt(nullptr, 16);
        else if (name.startsWith(u'#'))
            ch = name.mid(1).toUInt();
        else if (name == u"amp")
            ch = '&';
        else if (name == u"lt")
            ch = '<';
        else if (name == u"gt")
            ch = '>';
        else if (name == u"quot")
            ch = '"';
        else if (name == u"apos")
            ch = '\'';
        else if (name == u"nbsp")
            ch = 0xA0;
        if (!ch) {
            out.append(text[i]);
            continue;
        }
        out.append(QString::fromUcs4(&ch, 1));
        i = semi;
    }
    return out;
}

} // namespace

QString WordLook::describe() const
{
    QStringList parts{u'"' + text + u'"', face.isEmpty() ? QStringLiteral("(default face)") : face,
                      points > 0 ? QString::number(points) + QStringLiteral("pt") : QStringLiteral("(default size)"),
                      colour};
    if (bold)
        parts << QStringLiteral("bold");
    if (italic)
        parts << QStringLiteral("italic");
    if (underline)
        parts << QStringLiteral("underline");
    if (strike)
        parts << QStringLiteral("strike");
    if (script)
        parts << (script == 1 ? QStringLiteral("super") : QStringLiteral("sub"));
    if (caps)
        parts << (caps == 1 ? QStringLiteral("small caps") : QStringLiteral("all caps"));
    return parts.join(u' ');
}

QList<WordLook> wordLooksOfHtml(const QByteArray &bytes)
{
    const QString html = QString::fromUtf8(bytes);
    const WordLook base;
    // The style sheet's rules for elements and classes: "p.western { font-family: ...; font-size: 12pt }".
    QHash<QString, QString> rules;
    static const QRegularExpression ruleExpression(QStringLiteral("([^{}]+)\\{([^}]*)\\}"));
    const qsizetype styleStart = html.indexOf(QLatin1String("<style"), 0, Qt::CaseInsensitive);
    const qsizetype styleEnd = html.indexOf(QLatin1String("</style>"), 0, Qt::CaseInsensitive);
    if (styleStart >= 0 && styleEnd > styleStart) {
        const QString sheet = html.mid(styleStart, styleEnd - styleStart).section(u'>', 1);
        auto matches = ruleExpression.globalMatch(sheet);
        while (matches.hasNext()) {
            const QRegularExpressionMatch rule = matches.next();
            for (const QString &selector : rule.captured(1).split(u','))
                rules[selector.trimmed().toLower()] += u';' + rule.captured(2);
        }
    }
    static const QRegularExpression attribute(QStringLiteral("([A-Za-z-]+)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')"));
    static const QStringList voidTags{"br", "img", "meta", "link", "hr", "col", "input", "area", "base", "wbr"};
    static const QStringList breaking{"br", "p", "td", "th", "tr", "li", "div", "table", "h1", "h2", "h3", "h4",
                                      "h5", "h6", "ol", "ul", "img", "dd", "dt", "pre", "blockquote"};

    struct Open
    {
        QString name;
        WordLook look;
    };
    QList<Open> stack;
    WordSplitter splitter;
    bool inBody = false;
    qsizetype i = 0;
    while (i < html.size()) {
        if (html[i] != u'<') {
            qsizetype next = html.indexOf(u'<', i);
            if (next < 0)
                next = html.size();
            if (inBody)
                splitter.add(decodeEntities(QStringView(html).mid(i, next - i)), stack.isEmpty() ? base : stack.last().look);
            i = next;
            continue;
        }
        if (html.mid(i, 4) == QLatin1String("<!--")) {
            const qsizetype end = html.indexOf(QLatin1String("-->"), i);
            i = end < 0 ? html.size() : end + 3;
            continue;
        }
        const qsizetype close = html.indexOf(u'>', i);
        if (close < 0)
            break;
        const QString tag = html.mid(i + 1, close - i - 1);
        i = close + 1;
        const bool closing = tag.startsWith(u'/');
        static const QRegularExpression nameEnd(QStringLiteral("[\\s/]"));
        QString name = (closing ? tag.mid(1) : tag).section(nameEnd, 0, 0).toLower();
        if (name == u"body") {
            inBody = !closing;
            continue;
        }
        if (name == u"style" || name == u"script" || name == u"title") {
            if (!closing) {
                const qsizetype end = html.indexOf(QLatin1String("</") + name, i, Qt::CaseInsensitive);
                i = end < 0 ? html.size() : end;
            }
            continue;
        }
        if (breaking.contains(name))
            splitter.breakWord();
        if (closing) {
            for (qsizetype k = stack.size() - 1; k >= 0; --k) {
                if (stack.at(k).name == name) {
                    stack.resize(k);
                    break;
                }
            }
            continue;
        }
        if (voidTags.contains(name) || tag.endsWith(u'/'))
            continue;
        WordLook look = stack.isEmpty() ? base : stack.last().look;
        if (name == u"b" || name == u"strong")
            look.bold = true;
        else if (name == u"i" || name == u"em")
            look.italic = true;
        else if (name == u"u")
            look.underline = true;
        else if (name == u"s" || name == u"strike" || name == u"del")
            look.strike = true;
        else if (name == u"sup")
            look.script = 1;
        else if (name == u"sub")
            look.script = 2;
        applyCss(look, rules.value(name));
        static const QRegularExpression classExpression(QStringLiteral("class\\s*=\\s*\"([^\"]*)\""));
        const QRegularExpressionMatch classMatch = classExpression.match(tag);
        if (classMatch.hasMatch())
            applyCss(look, rules.value(name + u'.' + classMatch.captured(1).toLower()));
        auto matches = attribute.globalMatch(tag);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            const QString key = match.captured(1).toLower();
            const QString value = match.captured(2).isNull() ? match.captured(3) : match.captured(2);
            if (key == u"style")
                applyCss(look, value);
            else if (name == u"font" && key == u"face")
                look.face = firstFace(value);
            else if (name == u"font" && key == u"color")
                look.colour = value.toLower();
        }
        stack.append({name, look});
    }
    return splitter.words;
}

QList<WordLook> wordLooksOf(const QTextDocument *doc)
{
    const QFont base = doc->defaultFont();
    WordSplitter splitter;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        splitter.breakWord();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) {
                splitter.breakWord();
                continue;
            }
            WordLook look;
            const QStringList families = format.fontFamilies().toStringList();
            look.face = families.isEmpty() ? base.family() : families.first();
            look.points = format.hasProperty(QTextFormat::FontPointSize) ? format.fontPointSize() : base.pointSizeF();
            look.bold = format.hasProperty(QTextFormat::FontWeight) ? format.fontWeight() >= QFont::DemiBold : base.bold();
            look.italic = format.hasProperty(QTextFormat::FontItalic) ? format.fontItalic() : base.italic();
            look.underline = format.hasProperty(QTextFormat::TextUnderlineStyle)
                                 ? format.underlineStyle() != QTextCharFormat::NoUnderline
                                 : format.hasProperty(QTextFormat::FontUnderline) ? format.fontUnderline() : base.underline();
            look.strike = format.hasProperty(QTextFormat::FontStrikeOut) ? format.fontStrikeOut() : base.strikeOut();
            if (format.foreground().style() != Qt::NoBrush)
                look.colour = format.foreground().color().name();
            look.script = format.verticalAlignment() == QTextCharFormat::AlignSuperScript ? 1
                          : format.verticalAlignment() == QTextCharFormat::AlignSubScript  ? 2
                                                                                          : 0;
            const QFont::Capitalization caps = format.hasProperty(QTextFormat::FontCapitalization)
                                                   ? format.fontCapitalization()
                                                   : base.capitalization();
            look.caps = caps == QFont::SmallCaps ? 1 : caps == QFont::AllUppercase ? 2 : 0;
            splitter.add(it.fragment().text(), look);
        }
    }
    return splitter.words;
}

QString firstLookDifference(const QList<WordLook> &expected, const QList<WordLook> &actual)
{
    for (qsizetype i = 0; i < qMax(expected.size(), actual.size()); ++i) {
        if (i >= expected.size())
            return QStringLiteral("extra word %1: %2").arg(i).arg(actual.at(i).describe());
        if (i >= actual.size())
            return QStringLiteral("missing word %1: %2").arg(i).arg(expected.at(i).describe());
        WordLook want = expected.at(i);
        const WordLook &got = actual.at(i);
        if (want.face.isEmpty())
            want.face = got.face;
        if (want.points <= 0)
            want.points = got.points;
        if (want.text != got.text || want.face.compare(got.face, Qt::CaseInsensitive) != 0 || !sameLook(
                [&] { WordLook w = want; w.face = got.face; return w; }(), got))
            return QStringLiteral("word %1: expected %2, got %3").arg(i).arg(want.describe(), got.describe());
    }
    return {};
}

QString convertWithLibreOffice(const QString &soffice, const QString &profile, const QString &target,
                               const QString &outDir, const QStringList &files)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList arguments{QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString(),
                                QStringLiteral("--headless"), QStringLiteral("--norestore"),
                                QStringLiteral("--convert-to"), target, QStringLiteral("--outdir"), outDir};
    process.start(soffice, arguments + files);
    if (!process.waitForFinished(240000))
        return QStringLiteral("soffice did not finish");
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QString::fromLocal8Bit(process.readAll());
    return {};
}

#include "ManPage.h"

#include <QRegularExpression>

#include <stdexcept>

namespace {
/// A synopsis in the manual's fonts: options and literal words bold, placeholders italic.
QString formatted(const QString &synopsis)
{
    static const QRegularExpression word(QStringLiteral(R"(-{0,2}[A-Za-z0-9_]+(?:[-.][A-Za-z0-9_]+)*)"));
    static const QRegularExpression placeholder(QStringLiteral("^[A-Z][A-Z0-9_]*$"));
    QString result;
    qsizetype last = 0;
    for (auto it = word.globalMatch(synopsis); it.hasNext();) {
        const auto match = it.next();
        result += ManPage::escaped(synopsis.mid(last, match.capturedStart() - last));
        const auto text = match.captured();
        const auto font = placeholder.match(text).hasMatch() ? QStringLiteral("\\fI") : QStringLiteral("\\fB");
        result += font + ManPage::escaped(text) + QStringLiteral("\\fR");
        last = match.capturedEnd();
    }
    return result + ManPage::escaped(synopsis.mid(last));
}

QString synopsis(const HelpText &help)
{
    QStringList lines;
    for (const auto &line : help.usage)
        lines.append(formatted(line));
    return lines.join(QStringLiteral("\n.br\n"));
}

QString paragraphs(const HelpText &help)
{
    QStringList blocks;
    for (const auto &paragraph : help.paragraphs)
        blocks.append(QStringLiteral(".PP\n") + ManPage::escaped(paragraph));
    return blocks.join(u'\n');
}

QString sections(const HelpText &help)
{
    QStringList blocks;
    for (const auto &section : help.sections) {
        auto block = QStringLiteral(".SH ") + ManPage::escaped(section.title.toUpper());
        for (const auto &entry : section.entries)
            block +=
                QStringLiteral("\n.TP\n") + formatted(entry.synopsis) + u'\n' + ManPage::escaped(entry.description);
        blocks.append(block);
    }
    return blocks.join(u'\n');
}
} // namespace

QString ManPage::escaped(const QString &text)
{
    QString plain;
    for (const auto character : text) {
        if (character == u'\\')
            plain += QStringLiteral("\\e");
        else if (character.unicode() > 0x7e)
            plain += QStringLiteral("\\[u%1]").arg(
                QString::number(character.unicode(), 16).toUpper().rightJustified(4, u'0'));
        else
            plain += character;
    }
    // The dashes of an option are minus signs, so that a copied option works.
    static const QRegularExpression optionDashes(QStringLiteral(R"((?<![\w-])--?(?=[A-Za-z0-9]))"));
    QString result;
    qsizetype last = 0;
    for (auto it = optionDashes.globalMatch(plain); it.hasNext();) {
        const auto match = it.next();
        result +=
            plain.mid(last, match.capturedStart() - last) + QStringLiteral("\\-").repeated(match.capturedLength());
        last = match.capturedEnd();
    }
    result += plain.mid(last);
    if (result.startsWith(u'.') || result.startsWith(u'\''))
        result.prepend(QStringLiteral("\\&"));
    return result;
}

QString ManPage::render(const QString &pattern, const HelpText &help, const QMap<QString, QString> &fields)
{
    QString page = pattern;
    const QMap<QString, QString> parts{{QStringLiteral("SYNOPSIS"), synopsis(help)},
                                       {QStringLiteral("PARAGRAPHS"), paragraphs(help)},
                                       {QStringLiteral("SECTIONS"), sections(help)}};
    for (auto it = parts.begin(); it != parts.end(); ++it) {
        const auto key = u'@' + it.key() + u'@';
        if (!page.contains(key))
            throw std::runtime_error(("the template has no " + key).toStdString());
        page.replace(key, it.value());
    }
    for (auto it = fields.begin(); it != fields.end(); ++it)
        page.replace(u'@' + it.key() + u'@', escaped(it.value()));
    if (const auto left = QRegularExpression(QStringLiteral("@[A-Z_]+@")).match(page); left.hasMatch())
        throw std::runtime_error(("the template's " + left.captured() + " is not filled").toStdString());
    return page;
}

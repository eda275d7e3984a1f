#pragma once

#include <QString>
#include <QStringList>
#include <vector>

/// A program's --help output read as its parts: usage lines, paragraphs and titled sections of
/// entries. The layout is the one both programs print:
///
///     Usage: PROGRAM ...
///            PROGRAM ...              (more usage lines, indented)
///
///     A paragraph.
///
///     Title:
///       synopsis                     (two spaces)
///           description              (six or more spaces)
struct HelpText {
    struct Entry {
        QString synopsis;
        QString description;
    };
    struct Section {
        QString title; ///< without the colon
        std::vector<Entry> entries;
    };

    QStringList usage; ///< each usage line without "Usage: "
    QStringList paragraphs;
    std::vector<Section> sections;

    /// Reads \a text; throws std::runtime_error naming the first line that fits no part.
    [[nodiscard]] static HelpText parse(const QString &text);
};

#pragma once

#include "HelpText.h"

#include <QMap>

/// Fills a roff manual page template with a program's help text.
namespace ManPage {
/// \a pattern with @SYNOPSIS@, @PARAGRAPHS@ and @SECTIONS@ made from \a help and each @KEY@ of
/// \a fields replaced; throws std::runtime_error when one of the three is missing or a field
/// is left unfilled.
[[nodiscard]] QString render(const QString &pattern, const HelpText &help, const QMap<QString, QString> &fields);
/// \a text escaped for roff: backslashes, option dashes, non-ASCII characters, leading dots.
[[nodiscard]] QString escaped(const QString &text);
} // namespace ManPage

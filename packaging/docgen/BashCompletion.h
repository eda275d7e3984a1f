#pragma once

#include "CommandGrammar.h"

/// Fills a bash completion template with a program's command grammar.
namespace BashCompletion {
/// \a pattern with @PROGRAM@, @FUNCTION@ and @GRAMMAR@ replaced: the grammar becomes the body of
/// a function "FUNCTION_grammar WHAT [COMMAND] [OPTION|POSITION]" that sets the caller's reply.
[[nodiscard]] QString render(const QString &pattern, const CommandGrammar &grammar, const QString &program);
} // namespace BashCompletion

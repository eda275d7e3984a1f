#pragma once

#include "HelpText.h"

#include <optional>

/// What a command line may hold, read from the synopses of a help text: the program's own
/// options, its commands, each one's options with the values they take, and its arguments.
struct CommandGrammar {
    /// What completes a value or an argument. Placeholders say which: TAKE a recording of the
    /// library, DIR a folder, FILE (or a format such as WAV) a file; literal words offer themselves.
    struct Completion {
        enum class Kind { nothing, words, files, folders, takes } kind = Kind::nothing;
        QStringList words;
    };
    struct Option {
        QString name;
        std::optional<Completion> value; ///< none: a flag
    };
    struct Command {
        QString name; ///< empty for the program's own options
        std::vector<Option> options;
        std::vector<Completion> arguments;
        bool lastArgumentRepeats = false; ///< "TAKE..."
    };

    Command program;               ///< the entries of the "Options" section
    std::vector<Command> commands; ///< the entries of the "Commands" section

    [[nodiscard]] static CommandGrammar fromHelp(const HelpText &help);
};

#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

/// Runs the built vespertone-tool (its path comes from VESPERTONE_TOOL) and collects its output.
struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

/// Runs the tool with \a arguments, waiting at most \a timeoutMs.
ToolRun runTool(const QStringList &arguments, int timeoutMs = 60000,
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

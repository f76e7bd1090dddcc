#pragma once

#include <QString>

struct HelpDocument
{
    QString path;          // the executable's path with ".pdf" as its extension
    QString workingFolder; // the executable's folder, up to and including its last delimiter
};

// The help document that belongs to the executable at executablePath: the extension (from the
// last "." behind the last path delimiter) replaced by ".pdf", or ".pdf" appended.
HelpDocument HelpDocumentFor(const QString &executablePath);

// Opens the running executable's help document with the desktop's handler for its file type,
// from its working folder. Whether that worked is not looked at: a missing document is the
// desktop's to report.
void OpenHelpDocument();

#pragma once

// The program's identity, shared by the window and the command-line front end: the per-user
// data folder is named after the organisation and the application, and the window title and
// the About dialog show the version.

#include <QString>

namespace orvo {

inline const QString kOrganisationName = QStringLiteral("Orvo");
inline const QString kApplicationName = QStringLiteral("Orvo Updater");
inline const QString kApplicationVersion = QStringLiteral("7.35");

/// Sets organisation name, application name and version on the application object.
void setApplicationIdentity();

} // namespace orvo

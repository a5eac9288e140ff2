#include "appidentity.h"

#include <QCoreApplication>

namespace orvo {

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(kOrganisationName);
    QCoreApplication::setApplicationName(kApplicationName);
    QCoreApplication::setApplicationVersion(kApplicationVersion);
}

} // namespace orvo

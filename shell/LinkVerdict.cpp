#include "shell/LinkVerdict.h"

#include <cstring>

QString LinkRepair::failureText() const
{
    switch (outcome) {
    case Outcome::NotAsked:
    case Outcome::Written:
        break;
    case Outcome::ReadOnly:
        return QStringLiteral("the file may not be written");
    case Outcome::Changed:
        return QStringLiteral("the file changed while it was being checked");
    case Outcome::Shared:
        return QStringLiteral("other names lead to the same file (or it lies off the drive), so it is left "
                              "as it is");
    case Outcome::Failed:
        return QString::fromLocal8Bit(std::strerror(error));
    case Outcome::NotJournalled:
        return QStringLiteral("the change could not be recorded in the journal (%1), so it was not made")
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
    return QString();
}

QString LinkVerdict::statusName(Status status)
{
    switch (status) {
    case Status::Healthy:
        return QStringLiteral("healthy");
    case Status::Repaired:
        return QStringLiteral("repaired");
    case Status::RepairNotWritten:
        return QStringLiteral("repair not written");
    case Status::Broken:
        return QStringLiteral("broken");
    case Status::Unjudged:
        return QStringLiteral("unjudged");
    case Status::NotShortcut:
        return QStringLiteral("not a shortcut");
    case Status::Skipped:
        break;
    }
    return QStringLiteral("skipped");
}

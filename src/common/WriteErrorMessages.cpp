#include "WriteErrorMessages.h"

#include <cerrno>

namespace WriteErrorMessages {

QString describe(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘空间不足");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限");
    case EIO:
        return QStringLiteral("磁盘读写错误");
    case EROFS:
        return QStringLiteral("磁盘为只读");
    default:
        return {};
    }
}

QString withReason(const QString& message, int errorNumber)
{
    const QString reason = describe(errorNumber);
    return reason.isEmpty() ? message : QStringLiteral("%1（%2）").arg(message, reason);
}

} // namespace WriteErrorMessages

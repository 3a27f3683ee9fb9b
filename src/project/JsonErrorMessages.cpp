#include "JsonErrorMessages.h"

namespace JsonErrorMessages {

QString describe(QJsonParseError::ParseError error)
{
    switch (error) {
    case QJsonParseError::NoError:
        return QStringLiteral("没有错误");
    case QJsonParseError::UnterminatedObject:
        return QStringLiteral("对象没有结束");
    case QJsonParseError::MissingNameSeparator:
        return QStringLiteral("名称后缺少冒号");
    case QJsonParseError::UnterminatedArray:
        return QStringLiteral("数组没有结束");
    case QJsonParseError::MissingValueSeparator:
        return QStringLiteral("值之间缺少逗号");
    case QJsonParseError::IllegalValue:
        return QStringLiteral("非法的值");
    case QJsonParseError::TerminationByNumber:
        return QStringLiteral("文本在数字处中断");
    case QJsonParseError::IllegalNumber:
        return QStringLiteral("非法的数字");
    case QJsonParseError::IllegalEscapeSequence:
        return QStringLiteral("非法的转义序列");
    case QJsonParseError::IllegalUTF8String:
        return QStringLiteral("字符串不是有效的 UTF-8 编码");
    case QJsonParseError::UnterminatedString:
        return QStringLiteral("字符串没有结束");
    case QJsonParseError::MissingObject:
        return QStringLiteral("逗号后缺少对象");
    case QJsonParseError::DeepNesting:
        return QStringLiteral("嵌套层数过多");
    case QJsonParseError::DocumentTooLarge:
        return QStringLiteral("文档过大");
    case QJsonParseError::GarbageAtEnd:
        return QStringLiteral("文档结尾有多余的内容");
    }
    return QStringLiteral("语法错误");
}

} // namespace JsonErrorMessages

#include "folders/FolderList.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace quillary {
namespace {

// Only the 36-character 8-4-4-4-12 form, in either case; braces and the nil id are refused.
std::optional<QUuid> uuidFromText(const QString& text)
{
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    if (id.isNull())
        return std::nullopt;
    return id;
}

std::optional<FolderConfig> folderFromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(u"id");
    const QJsonValue name = object.value(u"name");
    const QJsonValue path = object.value(u"path");
    const QJsonValue icon = object.value(u"icon");
    const QJsonValue isRenamingEnabled = object.value(u"isRenamingEnabled");
    const QJsonValue prefix = object.value(u"prefix");
    const QJsonValue includeDate = object.value(u"includeDate");
    const QJsonValue fileFormat = object.value(u"fileFormat");
    // A missing key reads as Undefined, so the type checks also cover absence.
    for (const QJsonValue& text : {id, name, path, icon, prefix, fileFormat}) {
        if (!text.isString())
            return std::nullopt;
    }
    if (!isRenamingEnabled.isBool() || !includeDate.isBool())
        return std::nullopt;
    const std::optional<QUuid> uuid = uuidFromText(id.toString());
    if (!uuid)
        return std::nullopt;

    FolderConfig folder;
    folder.id = *uuid;
    folder.name = name.toString();
    folder.path = path.toString();
    folder.icon = icon.toString();
    folder.isRenamingEnabled = isRenamingEnabled.toBool();
    folder.prefix = prefix.toString();
    folder.includeDate = includeDate.toBool();
    folder.fileFormat = fileFormat.toString();
    return folder;
}

QJsonObject folderToJson(const FolderConfig& folder)
{
    return QJsonObject{
        {QStringLiteral("id"), folder.idText()},
        {QStringLiteral("name"), folder.name},
        {QStringLiteral("path"), folder.path},
        {QStringLiteral("icon"), folder.icon},
        {QStringLiteral("isRenamingEnabled"), folder.isRenamingEnabled},
        {QStringLiteral("prefix"), folder.prefix},
        {QStringLiteral("includeDate"), folder.includeDate},
        {QStringLiteral("fileFormat"), folder.fileFormat},
    };
}

} // namespace

std::optional<FolderList> FolderList::fromText(const QString& text)
{
    // Each UTF-16 unit takes at least one byte, so the length rules out most of a huge text unconverted.
    if (text.size() > kMaxTextBytes)
        return std::nullopt;
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > kMaxTextBytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(utf8, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;

    FolderList list;
    const QJsonArray array = document.array();
    list.folders.reserve(array.size());
    for (const QJsonValue& element : array) {
        std::optional<FolderConfig> folder = folderFromJson(element);
        if (!folder)
            return std::nullopt;
        list.folders.append(std::move(*folder));
    }
    return list;
}

QString FolderList::toText() const
{
    // Serialising a QJsonArray of strings and booleans cannot fail, so there is no "[]" fallback path.
    QJsonArray array;
    for (const FolderConfig& folder : folders)
        array.append(folderToJson(folder));
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace quillary

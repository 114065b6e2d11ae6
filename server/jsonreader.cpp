#include "jsonreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

namespace {

// QJsonDocument's own nesting limit; it also bounds the recursion below.
constexpr int maxDepth = 1024;

QString text(const rapidjson::Value &value)
{
    return QString::fromUtf8(value.GetString(), qsizetype(value.GetStringLength()));
}

bool convert(const rapidjson::Value &value, QJsonValue &out, int depth)
{
    switch (value.GetType()) {
    case rapidjson::kNullType:
        out = QJsonValue(QJsonValue::Null);
        return true;
    case rapidjson::kFalseType:
        out = false;
        return true;
    case rapidjson::kTrueType:
        out = true;
        return true;
    case rapidjson::kStringType:
        out = text(value);
        return true;
    case rapidjson::kNumberType:
        // Integers that fit stay exact, as QJsonDocument keeps them.
        if (value.IsInt64())
            out = QJsonValue(qint64(value.GetInt64()));
        else
            out = value.GetDouble();
        return true;
    case rapidjson::kObjectType: {
        if (depth >= maxDepth)
            return false;
        QJsonObject object;
        for (auto member = value.MemberBegin(); member != value.MemberEnd(); ++member) {
            QJsonValue element;
            if (!convert(member->value, element, depth + 1))
                return false;
            // A repeated key keeps its last value, as QJsonDocument does.
            object.insert(text(member->name), element);
        }
        out = object;
        return true;
    }
    case rapidjson::kArrayType: {
        if (depth >= maxDepth)
            return false;
        QJsonArray array;
        for (const rapidjson::Value &item : value.GetArray()) {
            QJsonValue element;
            if (!convert(item, element, depth + 1))
                return false;
            array.append(element);
        }
        out = array;
        return true;
    }
    }
    return false;
}

} // namespace

std::optional<QJsonValue> readJson(QByteArrayView json, QString *error)
{
    rapidjson::Document document;
    // Iterative parsing keeps deep nesting off the stack; invalid UTF-8 is refused here.
    document.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag
        | rapidjson::kParseFullPrecisionFlag>(json.data(), size_t(json.size()));
    if (!document.HasParseError() && (document.IsObject() || document.IsArray())) {
        QJsonValue value;
        if (convert(document, value, 0))
            return value;
    }

    QJsonParseError parseError;
    const QJsonDocument fallback = QJsonDocument::fromJson(json.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = parseError.errorString();
        return std::nullopt;
    }
    return fallback.isObject() ? QJsonValue(fallback.object()) : QJsonValue(fallback.array());
}

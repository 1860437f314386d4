#include "QtSettingsStore.h"

#include "ChartText.h"

namespace orvane::velmora {

QString QtSettingsStore::KeyOf(const std::string& subKey, const std::string& name)
{
    QString key = QString::fromUtf8(text::kSettingsGroup) + "/";
    if (!subKey.empty()) key += QString::fromStdString(subKey) + "/";
    return key + QString::fromStdString(name);
}

bool QtSettingsStore::ReadInt(const std::string& subKey, const std::string& name, int32_t* out)
{
    QSettings settings(text::kSettingsOrg, text::kSettingsApp);
    QVariant value = settings.value(KeyOf(subKey, name));
    bool ok = false;
    int32_t v = value.toInt(&ok);
    // A damaged value reads as absent: the caller's default stays.
    if (!value.isValid() || !ok) return false;
    *out = v;
    return true;
}

void QtSettingsStore::WriteInt(const std::string& subKey, const std::string& name, int32_t value)
{
    QSettings settings(text::kSettingsOrg, text::kSettingsApp);
    settings.setValue(KeyOf(subKey, name), value);
}

}  // namespace orvane::velmora

#include "NembrinSettings.h"

#include <QSettings>

#include "NembrinText.h"

namespace orvane::nembrin {

namespace {

bool ReadInt(QSettings& settings, const QString& key, int32_t* out)
{
    const QVariant value = settings.value(key);
    bool ok = false;
    const int32_t v = value.toInt(&ok);
    // A damaged value reads as absent.
    if (!value.isValid() || !ok) return false;
    *out = v;
    return true;
}

QString Key(const char* group, const char* name) { return QString::fromUtf8(group) + "/" + name; }

}  // namespace

DisplaySettings ReadDisplaySettings()
{
    QSettings settings(text::kSettingsOrg, text::kSettingsApp);
    return LoadSettings(
        [&](const char* name, int32_t* value) { return ReadInt(settings, Key(text::kSettingsGroup, name), value); });
}

void WriteDisplaySetting(SettingIndex index, int32_t value)
{
    QSettings settings(text::kSettingsOrg, text::kSettingsApp);
    settings.setValue(Key(text::kSettingsGroup, kSettingNames[index]), value);
}

FindPlacement ReadFindPlacement()
{
    QSettings settings(text::kSettingsOrg, text::kSettingsApp);
    FindPlacement p;
    int32_t v = 0;
    if (ReadInt(settings, Key(text::kFindGroup, "DialogPosX"), &v)) p.posX = v;
    if (ReadInt(settings, Key(text::kFindGroup, "DialogPosY"), &v)) p.posY = v;
    // The choices are kept as single bytes.
    if (ReadInt(settings, Key(text::kFindGroup, "JZType"), &v)) p.radix = uint8_t(v);
    if (ReadInt(settings, Key(text::kFindGroup, "FindType"), &v)) p.scope = uint8_t(v);
    if (ReadInt(settings, Key(text::kFindGroup, "MinimumUnit"), &v)) p.minimumUnit = uint8_t(v);
    return p;
}

void WriteFindPlacement(const FindPlacement& p)
{
    QSettings settings(text::kSettingsOrg, text::kSettingsApp);
    settings.setValue(Key(text::kFindGroup, "DialogPosX"), p.posX);
    settings.setValue(Key(text::kFindGroup, "DialogPosY"), p.posY);
    settings.setValue(Key(text::kFindGroup, "JZType"), int32_t(p.radix));
    settings.setValue(Key(text::kFindGroup, "FindType"), int32_t(p.scope));
    settings.setValue(Key(text::kFindGroup, "MinimumUnit"), int32_t(p.minimumUnit));
}

}  // namespace orvane::nembrin

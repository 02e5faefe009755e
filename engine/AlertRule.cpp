#include "engine/AlertRule.h"

#include "settings/SettingsStore.h"

AlertRule::AlertRule(SoundService& sounds) : AlertRule(sounds, SettingsStore::instance()) {}

AlertRule::AlertRule(SoundService& sounds, SettingsStore& settings)
    : m_sounds(sounds), m_settings(settings)
{
}

void AlertRule::BeginPaint(bool newTextArrived)
{
    m_soundFile = m_settings.GetString(Setting::Sound);
    m_playArmed = m_settings.GetBool(Setting::PlaySound);
    m_beepArmed = m_settings.GetBool(Setting::Beep);
    m_newTextArrived = newTextArrived;
}

void AlertRule::LineDrawn(bool matched)
{
    if (!m_newTextArrived || !matched) {
        return;
    }
    if (m_playArmed) {
        m_sounds.PlayFileSync(m_soundFile);
        m_playArmed = false;
    }
    if (m_beepArmed) {
        m_sounds.Beep();
        m_beepArmed = false;
    }
}

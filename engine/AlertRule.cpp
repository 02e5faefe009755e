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
    m_playDue = m_playDue || m_playArmed;
    m_beepDue = m_beepDue || m_beepArmed;
    m_playArmed = false;
    m_beepArmed = false;
}

void AlertRule::SoundDue()
{
    if (m_playDue) {
        m_playDue = false;
        m_sounds.PlayFile(m_soundFile);
    }
    if (m_beepDue) {
        m_beepDue = false;
        m_sounds.Beep();
    }
}

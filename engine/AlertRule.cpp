#include "engine/AlertRule.h"

#include "settings/SettingsStore.h"

AlertRule::AlertRule(SoundService& sounds) : AlertRule(sounds, SettingsStore::instance()) {}

AlertRule::AlertRule(SoundService& sounds, SettingsStore& settings)
    : m_sounds(sounds), m_settings(settings)
{
}

void AlertRule::beginPaint(bool newTextArrived)
{
    m_soundFile = m_settings.string(Setting::Sound);
    m_playArmed = m_settings.boolValue(Setting::PlaySound);
    m_beepArmed = m_settings.boolValue(Setting::Beep);
    m_newTextArrived = newTextArrived;
}

void AlertRule::lineDrawn(bool matched)
{
    if (!m_newTextArrived || !matched) {
        return;
    }
    m_playDue = m_playDue || m_playArmed;
    m_beepDue = m_beepDue || m_beepArmed;
    m_playArmed = false;
    m_beepArmed = false;
}

void AlertRule::soundDue()
{
    if (m_playDue) {
        m_playDue = false;
        m_sounds.playSoundFile(m_soundFile);
    }
    if (m_beepDue) {
        m_beepDue = false;
        m_sounds.beep();
    }
}

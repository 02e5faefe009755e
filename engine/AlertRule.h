#pragma once

// The keyword alert that the view sounds while it paints, and the sound service behind it.
//
// A paint of a document that has at least one line drives one AlertRule:
//     AlertRule alert(soundService);               // settings default to the one store
//     alert.beginPaint(doc.newTextArrived());   // reads "Sound", "PlaySound", "Beep"
//     for each drawn line, top to bottom:
//         doc.keywordColors(text, fg, bg, matched);
//         alert.lineDrawn(matched);                // due at most once per paint
//     if (alert.newTextWasArrived()) doc.setNewTextArrived(false);
//     ... the document lock released ...
//     alert.soundDue();                            // the sound file, then the beep
// A paint of a document without lines touches neither the rule nor the flag.
//
// Main thread only. Sounds start only after the paint has let go of the document lock,
// and they never wait until a sound has ended: a sound of seconds would otherwise hold
// the window and the watcher, which waits for the lock, for as long.

#include <string>

class SettingsStore;

class SoundService {
  public:
    virtual ~SoundService() = default;
    // Starts playing the sound file and returns at once, without waiting for the sound or
    // for the file to be read. A file that cannot be played gives the desktop's warning
    // sound instead. A sound asked for while another is still playing may be dropped.
    // Main thread.
    virtual void playSoundFile(const std::u16string& path) = 0;
    // The system's warning beep (MessageBeep with MB_ICONEXCLAMATION); returns at once.
    // Main thread.
    virtual void beep() = 0;
};

class AlertRule {
  public:
    // Neither argument is owned; both must outlive the rule.
    explicit AlertRule(SoundService& sounds);
    AlertRule(SoundService& sounds, SettingsStore& settings);

    // Start of a paint: reads "Sound", "PlaySound" and "Beep" and arms the two alerts.
    void beginPaint(bool newTextArrived);
    // After the colours of one drawn line were decided. When new text arrived and the
    // line matched: the armed sound file and the armed beep come due, and are disarmed.
    void lineDrawn(bool matched);
    // After the paint has released the document lock: starts the sound file that came
    // due, then the beep, each at most once.
    void soundDue();
    // Whether the paint saw the new-text flag set; the caller then clears it.
    bool newTextWasArrived() const { return m_newTextArrived; }

    bool playArmed() const { return m_playArmed; }
    bool beepArmed() const { return m_beepArmed; }

  private:
    SoundService& m_sounds;
    SettingsStore& m_settings;
    std::u16string m_soundFile;
    bool m_newTextArrived = false;
    bool m_playArmed = false;
    bool m_beepArmed = false;
    bool m_playDue = false;
    bool m_beepDue = false;
};

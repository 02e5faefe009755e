#pragma once

// The keyword alert that the view sounds while it paints, and the sound service behind it.
//
// A paint of a document that has at least one line drives one AlertRule:
//     AlertRule alert(soundService);               // settings default to the one store
//     alert.BeginPaint(doc.GetNewTextArrived());   // reads "Sound", "PlaySound", "Beep"
//     for each drawn line, top to bottom:
//         doc.GetKeywordColors(text, fg, bg, matched);
//         alert.LineDrawn(matched);                // sounds at most once per paint
//     if (alert.NewTextWasArrived()) doc.SetNewTextArrived(false);
// A paint of a document without lines touches neither the rule nor the flag.
//
// Main thread only. The sound is played synchronously (the paint, and an append waiting
// for the document lock, wait until it has ended), the sound file before the beep.

#include <string>

class SettingsStore;

class SoundService {
  public:
    virtual ~SoundService() = default;
    // Plays the sound file to its end, then returns. A file that cannot be played gives
    // the desktop's warning sound instead. Main thread.
    virtual void PlayFileSync(const std::u16string& path) = 0;
    // The system's warning beep (MessageBeep with MB_ICONEXCLAMATION). Main thread.
    virtual void Beep() = 0;
};

class AlertRule {
  public:
    // Neither argument is owned; both must outlive the rule.
    explicit AlertRule(SoundService& sounds);
    AlertRule(SoundService& sounds, SettingsStore& settings);

    // Start of a paint: reads "Sound", "PlaySound" and "Beep" and arms the two alerts.
    void BeginPaint(bool newTextArrived);
    // After the colours of one drawn line were decided. When new text arrived and the
    // line matched: plays the armed sound file, then gives the armed beep, and disarms
    // each of them.
    void LineDrawn(bool matched);
    // Whether the paint saw the new-text flag set; the caller then clears it.
    bool NewTextWasArrived() const { return m_newTextArrived; }

    bool PlayArmed() const { return m_playArmed; }
    bool BeepArmed() const { return m_beepArmed; }

  private:
    SoundService& m_sounds;
    SettingsStore& m_settings;
    std::u16string m_soundFile;
    bool m_newTextArrived = false;
    bool m_playArmed = false;
    bool m_beepArmed = false;
};

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>AboutController</name>
    <message>
        <source>About Cassora</source>
        <translation>Über Cassora</translation>
    </message>
    <message>
        <source>version</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>Cassora Website</source>
        <translation>Cassora-Website</translation>
    </message>
    <message>
        <source>Send Feedback…</source>
        <translation>Rückmeldung senden …</translation>
    </message>
    <message>
        <source>Credits</source>
        <translation>Danksagungen</translation>
    </message>
</context>
<context>
    <name>AppController</name>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Import Tapes…</source>
        <translation>Kassetten &amp;importieren …</translation>
    </message>
    <message>
        <source>&amp;Export Tape…</source>
        <translation>Kassette &amp;exportieren …</translation>
    </message>
    <message>
        <source>Ctrl+E</source>
        <translation>Ctrl+E</translation>
    </message>
    <message>
        <source>&amp;Preferences…</source>
        <translation>&amp;Einstellungen …</translation>
    </message>
    <message>
        <source>Ctrl+,</source>
        <translation>Ctrl+,</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>&amp;Find</source>
        <translation>&amp;Suchen</translation>
    </message>
    <message>
        <source>&amp;Controls</source>
        <translation>&amp;Steuerung</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Abspielen</translation>
    </message>
    <message>
        <source>Rewind</source>
        <translation>Zurückspulen</translation>
    </message>
    <message>
        <source>Fast Forward</source>
        <translation>Vorspulen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Previous Tape</source>
        <translation>Vorherige Kassette</translation>
    </message>
    <message>
        <source>Ctrl+Down</source>
        <translation>Ctrl+Down</translation>
    </message>
    <message>
        <source>Next Tape</source>
        <translation>Nächste Kassette</translation>
    </message>
    <message>
        <source>Ctrl+Up</source>
        <translation>Ctrl+Up</translation>
    </message>
    <message>
        <source>Volume Up</source>
        <translation>Lauter</translation>
    </message>
    <message>
        <source>Ctrl+Shift+Up</source>
        <translation>Ctrl+Shift+Up</translation>
    </message>
    <message>
        <source>Volume Down</source>
        <translation>Leiser</translation>
    </message>
    <message>
        <source>Ctrl+Shift+Down</source>
        <translation>Ctrl+Shift+Down</translation>
    </message>
    <message>
        <source>Go to Start</source>
        <translation>Zum Anfang</translation>
    </message>
    <message>
        <source>Go to End</source>
        <translation>Zum Ende</translation>
    </message>
    <message>
        <source>Remove Voice</source>
        <translation>Gesang entfernen</translation>
    </message>
    <message>
        <source>Recording Quality</source>
        <translation>Aufnahmequalität</translation>
    </message>
    <message>
        <source>HQ — Lossless</source>
        <translation>HQ — verlustfrei</translation>
    </message>
    <message>
        <source>MQ — AAC 128 kbit/s</source>
        <translation>MQ — AAC 128 kbit/s</translation>
    </message>
    <message>
        <source>LQ — AAC 48 kbit/s</source>
        <translation>LQ — AAC 48 kbit/s</translation>
    </message>
    <message>
        <source>Recording Channels</source>
        <translation>Aufnahmekanäle</translation>
    </message>
    <message>
        <source>Stereo</source>
        <translation>Stereo</translation>
    </message>
    <message>
        <source>Mono</source>
        <translation>Mono</translation>
    </message>
    <message>
        <source>&amp;Tape</source>
        <translation>&amp;Kassette</translation>
    </message>
    <message>
        <source>Rename Tape</source>
        <translation>Kassette umbenennen</translation>
    </message>
    <message>
        <source>Edit Notes</source>
        <translation>Notizen bearbeiten</translation>
    </message>
    <message>
        <source>Shift+F2</source>
        <translation>Shift+F2</translation>
    </message>
    <message>
        <source>Next Colour</source>
        <translation>Nächste Farbe</translation>
    </message>
    <message>
        <source>Ctrl+L</source>
        <translation>Ctrl+L</translation>
    </message>
    <message>
        <source>Reveal Tape in File Manager</source>
        <translation>Kassette in der Dateiverwaltung zeigen</translation>
    </message>
    <message>
        <source>Move Tape to Trash</source>
        <translation>Kassette in den Papierkorb verschieben</translation>
    </message>
    <message>
        <source>Ctrl+Del</source>
        <translation>Ctrl+Del</translation>
    </message>
    <message>
        <source>Save &amp;Movie…</source>
        <translation>&amp;Film speichern …</translation>
    </message>
    <message>
        <source>Sharing</source>
        <translation>Teilen</translation>
    </message>
    <message>
        <source>Show Library Folder</source>
        <translation>Bibliotheksordner zeigen</translation>
    </message>
    <message>
        <source>Show or Hide Tape Box</source>
        <translation>Kassettenbox zeigen oder verbergen</translation>
    </message>
    <message>
        <source>Ctrl+T</source>
        <translation>Ctrl+T</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>About Cassora</source>
        <translation>Über Cassora</translation>
    </message>
    <message>
        <source>Send Feedback…</source>
        <translation>Rückmeldung senden …</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Nach Aktualisierungen suchen …</translation>
    </message>
    <message>
        <source>Email Tape…</source>
        <translation>Kassette per E-Mail senden …</translation>
    </message>
    <message>
        <source>Copy Tape to Music Library</source>
        <translation>Kassette in die Musikbibliothek kopieren</translation>
    </message>
    <message>
        <source>Send to YouTube…</source>
        <translation>An YouTube senden …</translation>
    </message>
    <message>
        <source>Save Movie…</source>
        <translation>Film speichern …</translation>
    </message>
</context>
<context>
    <name>CassoraSoftwarePlayThroughManager</name>
    <message>
        <source>Monitoring cannot start: %1</source>
        <translation>Mithören kann nicht starten: %1</translation>
    </message>
    <message>
        <source>the recording device cannot be opened. Is it unplugged or in use?</source>
        <translation>das Aufnahmegerät lässt sich nicht öffnen. Ist es ausgesteckt oder belegt?</translation>
    </message>
    <message>
        <source>the playback device cannot be opened. Is it unplugged or in use?</source>
        <translation>das Wiedergabegerät lässt sich nicht öffnen. Ist es ausgesteckt oder belegt?</translation>
    </message>
    <message>
        <source>the recording device&apos;s sound format cannot be monitored.</source>
        <translation>das Tonformat des Aufnahmegeräts lässt sich nicht mithören.</translation>
    </message>
    <message>
        <source>the playback device cannot play the recording device&apos;s sound format.</source>
        <translation>das Wiedergabegerät kann das Tonformat des Aufnahmegeräts nicht abspielen.</translation>
    </message>
    <message>
        <source>the recording device does not start. Is it unplugged or in use?</source>
        <translation>das Aufnahmegerät startet nicht. Ist es ausgesteckt oder belegt?</translation>
    </message>
    <message>
        <source>the playback device does not start. Is it unplugged or in use?</source>
        <translation>das Wiedergabegerät startet nicht. Ist es ausgesteckt oder belegt?</translation>
    </message>
    <message>
        <source>the sound server did not start it.</source>
        <translation>der Soundserver hat es nicht gestartet.</translation>
    </message>
    <message>
        <source> (error %1 at step %2)</source>
        <translation> (Fehler %1 bei Schritt %2)</translation>
    </message>
</context>
<context>
    <name>DeckAccessibility</name>
    <message>
        <source>silent</source>
        <translation>still</translation>
    </message>
    <message>
        <source>%1 dB</source>
        <translation>%1 dB</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Input level</source>
        <translation>Eingangspegel</translation>
    </message>
    <message>
        <source>left %1, right %2</source>
        <translation>links %1, rechts %2</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Lautstärke</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>Recording quality</source>
        <translation>Aufnahmequalität</translation>
    </message>
    <message>
        <source>Recording channels</source>
        <translation>Aufnahmekanäle</translation>
    </message>
    <message>
        <source>Stereo</source>
        <translation>Stereo</translation>
    </message>
    <message>
        <source>Mono</source>
        <translation>Mono</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>Anzeige</translation>
    </message>
    <message>
        <source>Recording resumed</source>
        <translation>Aufnahme fortgesetzt</translation>
    </message>
    <message>
        <source>Recording started</source>
        <translation>Aufnahme gestartet</translation>
    </message>
    <message>
        <source>Recording paused</source>
        <translation>Aufnahme angehalten</translation>
    </message>
    <message>
        <source>Recording stopped</source>
        <translation>Aufnahme beendet</translation>
    </message>
</context>
<context>
    <name>DeckHotKeys</name>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Cassora</source>
        <translation>Cassora</translation>
    </message>
    <message>
        <source>A global hot key could not be set up</source>
        <translation>Ein globales Tastenkürzel konnte nicht eingerichtet werden</translation>
    </message>
    <message>
        <source>Choose another combination under Preferences, Hot Keys.</source>
        <translation>Wählen Sie unter Einstellungen, Tastenkürzel eine andere Kombination.</translation>
    </message>
    <message>
        <source>The %1 hot key: %2</source>
        <translation>Das Tastenkürzel für %1: %2</translation>
    </message>
</context>
<context>
    <name>DeckInstance</name>
    <message>
        <source>Another Cassora deck is running but does not answer: %1</source>
        <translation>Ein anderes Cassora-Deck läuft, antwortet aber nicht: %1</translation>
    </message>
</context>
<context>
    <name>DeckTitleBarView</name>
    <message>
        <source>STEREO CASSETTE DECK</source>
        <translation>STEREO CASSETTE DECK</translation>
    </message>
    <message>
        <source>MONITOR</source>
        <translation>MITHÖREN</translation>
    </message>
</context>
<context>
    <name>DeckWindow</name>
    <message>
        <source>Cassora</source>
        <translation>Cassora</translation>
    </message>
</context>
<context>
    <name>DrawerButton</name>
    <message>
        <source>Show or hide the tape box</source>
        <translation>Kassettenbox zeigen oder verbergen</translation>
    </message>
    <message>
        <source>Tape box</source>
        <translation>Kassettenbox</translation>
    </message>
</context>
<context>
    <name>DurationFormatter</name>
    <message>
        <source>less than a second</source>
        <translation>weniger als eine Sekunde</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
    <message>
        <source>hour</source>
        <translation>Stunde</translation>
    </message>
    <message>
        <source>hours</source>
        <translation>Stunden</translation>
    </message>
    <message>
        <source>minute</source>
        <translation>Minute</translation>
    </message>
    <message>
        <source>minutes</source>
        <translation>Minuten</translation>
    </message>
    <message>
        <source>second</source>
        <translation>Sekunde</translation>
    </message>
    <message>
        <source>seconds</source>
        <translation>Sekunden</translation>
    </message>
</context>
<context>
    <name>ExportPanel</name>
    <message>
        <source>Export Tape</source>
        <translation>Kassette exportieren</translation>
    </message>
    <message>
        <source>The tape could not be exported</source>
        <translation>Die Kassette konnte nicht exportiert werden</translation>
    </message>
    <message>
        <source>A tape cannot be exported onto itself.</source>
        <translation>Eine Kassette kann nicht auf sich selbst exportiert werden.</translation>
    </message>
    <message>
        <source>Exporting &quot;%1&quot;…</source>
        <translation>„%1“ wird exportiert …</translation>
    </message>
    <message>
        <source>&quot;%1&quot; was made meanwhile; it was not replaced.</source>
        <translation>„%1“ ist inzwischen entstanden; die Datei wurde nicht ersetzt.</translation>
    </message>
</context>
<context>
    <name>ExportTags</name>
    <message>
        <source>The tags of &quot;%1&quot; could not be written.</source>
        <translation>Die Tags von „%1“ konnten nicht geschrieben werden.</translation>
    </message>
</context>
<context>
    <name>FilePlacement</name>
    <message>
        <source>&quot;%1&quot; could not be written: %2</source>
        <translation>„%1“ konnte nicht geschrieben werden: %2</translation>
    </message>
</context>
<context>
    <name>FuzzyDateFormatter</name>
    <message>
        <source>Today</source>
        <translation>Heute</translation>
    </message>
    <message>
        <source>Yesterday</source>
        <translation>Gestern</translation>
    </message>
</context>
<context>
    <name>HotKeyText</name>
    <message>
        <source>(None)</source>
        <translation>(Keines)</translation>
    </message>
</context>
<context>
    <name>MPRISService</name>
    <message>
        <source>There is no session bus.</source>
        <translation>Es gibt keinen Sitzungsbus.</translation>
    </message>
    <message>
        <source>There is no session bus: %1</source>
        <translation>Es gibt keinen Sitzungsbus: %1</translation>
    </message>
    <message>
        <source>The media player object cannot be published: %1</source>
        <translation>Das Medienspieler-Objekt kann nicht veröffentlicht werden: %1</translation>
    </message>
    <message>
        <source>The bus name %1 is taken (is another Cassora running?)</source>
        <translation>Der Busname %1 ist vergeben (läuft ein anderes Cassora?)</translation>
    </message>
</context>
<context>
    <name>NotesEditorView</name>
    <message>
        <source>Notes</source>
        <translation>Notizen</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
</context>
<context>
    <name>PTHotKeyCenter</name>
    <message>
        <source>Global hot keys need an X11 session; this session (%1) offers none to Cassora.</source>
        <translation>Globale Tastenkürzel brauchen eine X11-Sitzung; diese Sitzung (%1) bietet Cassora keine an.</translation>
    </message>
    <message>
        <source>The key of %1 does not exist on this keyboard.</source>
        <translation>Die Taste von %1 gibt es auf dieser Tastatur nicht.</translation>
    </message>
    <message>
        <source>%1 is already in use by another program.</source>
        <translation>%1 wird bereits von einem anderen Programm verwendet.</translation>
    </message>
    <message>
        <source>The X server refused %1 (error %2).</source>
        <translation>Der X-Server hat %1 abgelehnt (Fehler %2).</translation>
    </message>
</context>
<context>
    <name>PTKeyCombo</name>
    <message>
        <source>(None)</source>
        <translation>(Keines)</translation>
    </message>
</context>
<context>
    <name>PTKeyComboPanel</name>
    <message>
        <source>Hot Key</source>
        <translation>Tastenkürzel</translation>
    </message>
    <message>
        <source>Type the new combination for “%1”:</source>
        <translation>Geben Sie die neue Kombination für „%1“ ein:</translation>
    </message>
    <message>
        <source>Type the combination here</source>
        <translation>Kombination hier eingeben</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>That key cannot be used for a hot key.</source>
        <translation>Diese Taste kann nicht für ein Tastenkürzel verwendet werden.</translation>
    </message>
    <message>
        <source>Type a key together with Ctrl, Alt or Super.</source>
        <translation>Drücken Sie eine Taste zusammen mit Strg, Alt oder Super.</translation>
    </message>
    <message>
        <source>A hot key needs Ctrl, Alt or Super with the key.</source>
        <translation>Ein Tastenkürzel braucht Strg, Alt oder Super zur Taste.</translation>
    </message>
    <message>
        <source>Shift alone would take a character away from typing: add Ctrl, Alt or Super.</source>
        <translation>Umschalt allein würde beim Tippen ein Zeichen wegnehmen: Nehmen Sie Strg, Alt oder Super hinzu.</translation>
    </message>
    <message>
        <source>%1 cannot be used for a hot key; please choose another key.</source>
        <translation>%1 kann nicht für ein Tastenkürzel verwendet werden; bitte wählen Sie eine andere Taste.</translation>
    </message>
</context>
<context>
    <name>PreferencesController</name>
    <message>
        <source>Tapes cannot be saved in &quot;%1&quot;: you do not have permission to write to that folder. Choose another one.</source>
        <translation>Kassetten können nicht in „%1“ gespeichert werden: Sie dürfen in diesen Ordner nicht schreiben. Wählen Sie einen anderen.</translation>
    </message>
    <message>
        <source>Cassora has no tape library folder. Choose one in the preferences.</source>
        <translation>Cassora hat keinen Ordner für die Kassettenbibliothek. Wählen Sie einen in den Einstellungen.</translation>
    </message>
    <message>
        <source>The tape library folder cannot be opened. %1</source>
        <translation>Der Ordner der Kassettenbibliothek kann nicht geöffnet werden. %1</translation>
    </message>
    <message>
        <source>Default Input Device (Auto)</source>
        <translation>Standard-Eingabegerät (automatisch)</translation>
    </message>
    <message>
        <source>Default Output Device (Auto)</source>
        <translation>Standard-Ausgabegerät (automatisch)</translation>
    </message>
    <message>
        <source>On Channels:</source>
        <translation>Auf den Kanälen:</translation>
    </message>
    <message>
        <source>On Channel:</source>
        <translation>Auf Kanal:</translation>
    </message>
    <message>
        <source>Choose the Tape Library Folder</source>
        <translation>Ordner der Kassettenbibliothek wählen</translation>
    </message>
    <message>
        <source>This Folder Cannot Hold Tapes</source>
        <translation>Dieser Ordner kann keine Kassetten aufnehmen</translation>
    </message>
</context>
<context>
    <name>PreferencesWindow</name>
    <message>
        <source>Preferences</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Hot Keys</source>
        <translation>Tastenkürzel</translation>
    </message>
    <message>
        <source>Audio</source>
        <translation>Audio</translation>
    </message>
    <message>
        <source>No library folder</source>
        <translation>Kein Bibliotheksordner</translation>
    </message>
    <message>
        <source>Choose…</source>
        <translation>Auswählen …</translation>
    </message>
    <message>
        <source>Tape library:</source>
        <translation>Kassettenbibliothek:</translation>
    </message>
    <message>
        <source>Play sound effects</source>
        <translation>Klangeffekte abspielen</translation>
    </message>
    <message>
        <source>Show status item</source>
        <translation>Statussymbol anzeigen</translation>
    </message>
    <message>
        <source>Automatically check for updates</source>
        <translation>Automatisch nach Aktualisierungen suchen</translation>
    </message>
    <message>
        <source>Enable global hot keys</source>
        <translation>Globale Tastenkürzel einschalten</translation>
    </message>
    <message>
        <source>Change…</source>
        <translation>Ändern …</translation>
    </message>
    <message>
        <source>Record:</source>
        <translation>Aufnehmen:</translation>
    </message>
    <message>
        <source>Pause:</source>
        <translation>Pause:</translation>
    </message>
    <message>
        <source>Stop:</source>
        <translation>Stopp:</translation>
    </message>
    <message>
        <source>On Channels:</source>
        <translation>Auf den Kanälen:</translation>
    </message>
    <message>
        <source>Monitor the recording input</source>
        <translation>Aufnahmeeingang mithören</translation>
    </message>
    <message>
        <source>Record from:</source>
        <translation>Aufnehmen von:</translation>
    </message>
    <message>
        <source>Play to:</source>
        <translation>Abspielen über:</translation>
    </message>
    <message>
        <source>Tape library</source>
        <translation>Kassettenbibliothek</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>&quot;%1&quot; cannot be read: %2</source>
        <translation>„%1“ kann nicht gelesen werden: %2</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a file.</source>
        <translation>„%1“ ist keine Datei.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; cannot be written: %2</source>
        <translation>„%1“ kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>&quot;%1&quot; could not be copied: %2</source>
        <translation>„%1“ konnte nicht kopiert werden: %2</translation>
    </message>
    <message>
        <source>Cassora</source>
        <translation>Cassora</translation>
    </message>
</context>
<context>
    <name>SaveMoviePanel</name>
    <message>
        <source>Save Movie</source>
        <translation>Film speichern</translation>
    </message>
    <message>
        <source>QuickTime Movie (*.mov)</source>
        <translation>QuickTime-Film (*.mov)</translation>
    </message>
    <message>
        <source>Making the movie &quot;%1&quot;…</source>
        <translation>Der Film „%1“ entsteht …</translation>
    </message>
    <message>
        <source>&quot;%1&quot; was made meanwhile; it was not replaced.</source>
        <translation>„%1“ ist inzwischen entstanden; die Datei wurde nicht ersetzt.</translation>
    </message>
    <message>
        <source>The movie could not be saved</source>
        <translation>Der Film konnte nicht gespeichert werden</translation>
    </message>
</context>
<context>
    <name>SavePanel</name>
    <message>
        <source>&quot;%1&quot; already exists. Do you want to replace it?</source>
        <translation>„%1“ gibt es bereits. Möchten Sie die Datei ersetzen?</translation>
    </message>
    <message>
        <source>The file in &quot;%1&quot; will be replaced.</source>
        <translation>Die Datei in „%1“ wird ersetzt.</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Ersetzen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Stopping…</source>
        <translation>Wird angehalten …</translation>
    </message>
</context>
<context>
    <name>SegmentedTapeButtonView</name>
    <message>
        <source>Transport</source>
        <translation>Laufwerkstasten</translation>
    </message>
</context>
<context>
    <name>SharingController</name>
    <message>
        <source>Email</source>
        <translation>E-Mail</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>YouTube</source>
        <translation>YouTube</translation>
    </message>
    <message>
        <source>Save Movie…</source>
        <translation>Film speichern …</translation>
    </message>
    <message>
        <source>Music Library</source>
        <translation>Musikbibliothek</translation>
    </message>
</context>
<context>
    <name>StatusItem</name>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Show Cassora</source>
        <translation>Cassora zeigen</translation>
    </message>
    <message>
        <source>Quit Cassora</source>
        <translation>Cassora beenden</translation>
    </message>
    <message>
        <source>Cassora</source>
        <translation>Cassora</translation>
    </message>
    <message>
        <source>The desktop shows no status area; the status item appears once it does.</source>
        <translation>Die Arbeitsumgebung zeigt keinen Statusbereich; das Statussymbol erscheint, sobald es einen gibt.</translation>
    </message>
</context>
<context>
    <name>StereoView</name>
    <message>
        <source>Mono Recording Only</source>
        <translation>Nur Mono-Aufnahme</translation>
    </message>
    <message>
        <source>Your currently chosen input device only records in mono. Choose another device in the preferences if you require stereo recording.</source>
        <translation>Das gewählte Eingabegerät nimmt nur in Mono auf. Wählen Sie in den Einstellungen ein anderes Gerät, wenn Sie in Stereo aufnehmen möchten.</translation>
    </message>
</context>
<context>
    <name>TapeBoxModel</name>
    <message>
        <source>letter %1</source>
        <translation>Buchstabe %1</translation>
    </message>
</context>
<context>
    <name>TapeBoxView</name>
    <message>
        <source>The library folder cannot be read:
%1</source>
        <translation>Der Bibliotheksordner kann nicht gelesen werden:
%1</translation>
    </message>
    <message>
        <source>No tapes match the search.</source>
        <translation>Keine Kassette passt zur Suche.</translation>
    </message>
    <message>
        <source>No tapes yet.
Press REC to record one.</source>
        <translation>Noch keine Kassetten.
Drücken Sie REC, um eine aufzunehmen.</translation>
    </message>
    <message>
        <source>Tapes</source>
        <translation>Kassetten</translation>
    </message>
</context>
<context>
    <name>TapeColorScheme</name>
    <message>
        <source>red</source>
        <translation>rot</translation>
    </message>
    <message>
        <source>blue</source>
        <translation>blau</translation>
    </message>
    <message>
        <source>yellow</source>
        <translation>gelb</translation>
    </message>
    <message>
        <source>green</source>
        <translation>grün</translation>
    </message>
    <message>
        <source>orange</source>
        <translation>orange</translation>
    </message>
    <message>
        <source>purple</source>
        <translation>lila</translation>
    </message>
    <message>
        <source>black</source>
        <translation>schwarz</translation>
    </message>
    <message>
        <source>gray</source>
        <translation>grau</translation>
    </message>
</context>
<context>
    <name>TapeLibraryArrayController</name>
    <message>
        <source>Cassora Recording: %1</source>
        <translation>Cassora-Aufnahme: %1</translation>
    </message>
    <message>
        <source>Recorded with Cassora</source>
        <translation>Aufgenommen mit Cassora</translation>
    </message>
    <message>
        <source>The tape could not be emailed</source>
        <translation>Die Kassette konnte nicht per E-Mail gesendet werden</translation>
    </message>
    <message>
        <source>Cassora</source>
        <translation>Cassora</translation>
    </message>
    <message>
        <source>The tape could not be added to the Music Library</source>
        <translation>Die Kassette konnte nicht in die Musikbibliothek aufgenommen werden</translation>
    </message>
    <message>
        <source>It cannot be copied into %1, or the playlist “%2” there cannot be written.</source>
        <translation>Sie kann nicht nach %1 kopiert werden, oder die Wiedergabeliste „%2“ dort kann nicht geschrieben werden.</translation>
    </message>
    <message>
        <source>The tape is in the Music Library</source>
        <translation>Die Kassette ist in der Musikbibliothek</translation>
    </message>
    <message>
        <source>“%1” is in %2, in the playlist “%3”.</source>
        <translation>„%1“ liegt in %2, in der Wiedergabeliste „%3“.</translation>
    </message>
</context>
<context>
    <name>TapeMovie</name>
    <message>
        <source>Tape movie export already in progress.</source>
        <translation>Ein Kassettenfilm wird bereits exportiert.</translation>
    </message>
    <message>
        <source>There is no tape to make a movie of.</source>
        <translation>Es gibt keine Kassette, aus der ein Film entstehen könnte.</translation>
    </message>
    <message>
        <source>Tape movie export was cancelled.</source>
        <translation>Der Export des Kassettenfilms wurde abgebrochen.</translation>
    </message>
    <message>
        <source>Error writing movie asset.</source>
        <translation>Fehler beim Schreiben des Films.</translation>
    </message>
</context>
<context>
    <name>TapeSearchField</name>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Search tapes</source>
        <translation>Kassetten durchsuchen</translation>
    </message>
    <message>
        <source>Clear search</source>
        <translation>Suche leeren</translation>
    </message>
</context>
<context>
    <name>TapeView</name>
    <message>
        <source>Recorded</source>
        <translation>Aufgenommen</translation>
    </message>
    <message>
        <source>Click to edit</source>
        <translation>Zum Bearbeiten klicken</translation>
    </message>
    <message>
        <source>NOTES</source>
        <translation>NOTIZEN</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titel</translation>
    </message>
    <message>
        <source>Letter tag</source>
        <translation>Buchstabenschild</translation>
    </message>
    <message>
        <source>Letter %1, %2</source>
        <translation>Buchstabe %1, %2</translation>
    </message>
    <message>
        <source>Cassette</source>
        <translation>Kassette</translation>
    </message>
    <message>
        <source>Return renames the tape</source>
        <translation>Eingabetaste benennt die Kassette um</translation>
    </message>
    <message>
        <source>Notes</source>
        <translation>Notizen</translation>
    </message>
    <message>
        <source>Press to rename the tape</source>
        <translation>Drücken, um die Kassette umzubenennen</translation>
    </message>
    <message>
        <source>Press to edit the notes</source>
        <translation>Drücken, um die Notizen zu bearbeiten</translation>
    </message>
    <message>
        <source>Press for the next colour</source>
        <translation>Drücken für die nächste Farbe</translation>
    </message>
</context>
<context>
    <name>WindowController</name>
    <message>
        <source>Some tapes could not be imported</source>
        <translation>Einige Kassetten konnten nicht importiert werden</translation>
    </message>
    <message>
        <source>Import Tapes</source>
        <translation>Kassetten importieren</translation>
    </message>
    <message>
        <source>MPEG-4 Audio (*.m4a *.mp4 *.m4b)</source>
        <translation>MPEG-4-Audio (*.m4a *.mp4 *.m4b)</translation>
    </message>
    <message>
        <source>Some files are not tapes</source>
        <translation>Einige Dateien sind keine Kassetten</translation>
    </message>
    <message>
        <source>Only MPEG-4 audio files can be imported into the library.</source>
        <translation>Nur MPEG-4-Audiodateien können in die Bibliothek importiert werden.</translation>
    </message>
    <message>
        <source>No sound server is running (PulseAudio or PipeWire), so Cassora can neither record nor play. Start one, then try again.</source>
        <translation>Es läuft kein Soundserver (PulseAudio oder PipeWire), daher kann Cassora weder aufnehmen noch abspielen. Starten Sie einen und versuchen Sie es dann erneut.</translation>
    </message>
    <message>
        <source>Cassora has no library folder. Choose one in the preferences.</source>
        <translation>Cassora hat keinen Bibliotheksordner. Wählen Sie einen in den Einstellungen.</translation>
    </message>
    <message>
        <source>The library folder “%1” cannot be found. Choose another one in the preferences.</source>
        <translation>Der Bibliotheksordner „%1“ ist nicht auffindbar. Wählen Sie in den Einstellungen einen anderen.</translation>
    </message>
    <message>
        <source>The library folder “%1” is read-only: new recordings and label changes cannot be saved there. Choose another folder in the preferences.</source>
        <translation>Der Bibliotheksordner „%1“ ist schreibgeschützt: Neue Aufnahmen und Änderungen an Beschriftungen können dort nicht gespeichert werden. Wählen Sie in den Einstellungen einen anderen Ordner.</translation>
    </message>
    <message>
        <source>No sound server: nothing can be recorded or played</source>
        <translation>Kein Soundserver: Es kann nichts aufgenommen oder abgespielt werden</translation>
    </message>
    <message>
        <source>No audio is arriving from the input</source>
        <translation>Vom Eingang kommt kein Ton an</translation>
    </message>
    <message>
        <source>Tapes cannot be saved in %1</source>
        <translation>Kassetten können nicht in %1 gespeichert werden</translation>
    </message>
    <message numerus="yes">
        <source>No audio has arrived from the input for %n seconds. Is the device suspended or unplugged, or the sound server frozen? Cassora is still recording and keeps everything that arrives.</source>
        <translation>
            <numerusform>Seit %n Sekunde kommt kein Ton vom Eingang. Ist das Gerät im Ruhezustand oder ausgesteckt, oder hängt der Soundserver? Cassora nimmt weiter auf und behält alles, was ankommt.</numerusform>
            <numerusform>Seit %n Sekunden kommt kein Ton vom Eingang. Ist das Gerät im Ruhezustand oder ausgesteckt, oder hängt der Soundserver? Cassora nimmt weiter auf und behält alles, was ankommt.</numerusform>
        </translation>
    </message>
    <message>
        <source>The tape cannot be played</source>
        <translation>Die Kassette kann nicht abgespielt werden</translation>
    </message>
    <message>
        <source>The tape&apos;s file cannot be read.</source>
        <translation>Die Datei der Kassette kann nicht gelesen werden.</translation>
    </message>
    <message>
        <source>No output device can play it: %1</source>
        <translation>Kein Ausgabegerät kann sie abspielen: %1</translation>
    </message>
    <message>
        <source>The tape stopped</source>
        <translation>Die Kassette wurde angehalten</translation>
    </message>
    <message>
        <source>Its output device went away, and no other output can play it. %1</source>
        <translation>Ihr Ausgabegerät ist verschwunden, und kein anderer Ausgang kann sie abspielen. %1</translation>
    </message>
    <message>
        <source>There is no input device to record from.</source>
        <translation>Es gibt kein Eingabegerät, von dem aufgenommen werden könnte.</translation>
    </message>
    <message>
        <source>A file named “%1” is already in the library folder.</source>
        <translation>Im Bibliotheksordner liegt bereits eine Datei namens „%1“.</translation>
    </message>
    <message>
        <source>Untitled</source>
        <translation>Ohne Titel</translation>
    </message>
    <message>
        <source>The recording could not start</source>
        <translation>Die Aufnahme konnte nicht beginnen</translation>
    </message>
    <message>
        <source>The input device cannot be opened.</source>
        <translation>Das Eingabegerät kann nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>The input device cannot be opened: %1</source>
        <translation>Das Eingabegerät kann nicht geöffnet werden: %1</translation>
    </message>
    <message>
        <source>The recording stopped</source>
        <translation>Die Aufnahme wurde beendet</translation>
    </message>
    <message>
        <source>%1

Everything recorded until then is kept on the tape.</source>
        <translation>%1

Alles bis dahin Aufgenommene bleibt auf der Kassette.</translation>
    </message>
    <message>
        <source>The label could not be saved</source>
        <translation>Die Beschriftung konnte nicht gespeichert werden</translation>
    </message>
    <message>
        <source>%1

The tape shows what its file holds.</source>
        <translation>%1

Die Kassette zeigt, was ihre Datei enthält.</translation>
    </message>
    <message>
        <source>Monitoring cannot start</source>
        <translation>Mithören kann nicht starten</translation>
    </message>
</context>
<context>
    <name>YouTubeService</name>
    <message>
        <source>Sign-in needs an OAuth client ID (see the README).</source>
        <translation>Die Anmeldung braucht eine OAuth-Client-ID (siehe README).</translation>
    </message>
    <message>
        <source>Cannot listen on the loopback address for the sign-in&apos;s answer.</source>
        <translation>Auf der Loopback-Adresse kann nicht auf die Antwort der Anmeldung gewartet werden.</translation>
    </message>
    <message>
        <source>Signed out.</source>
        <translation>Abgemeldet.</translation>
    </message>
    <message>
        <source>The sign-in failed.</source>
        <translation>Die Anmeldung ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>your channel</source>
        <translation>Ihr Kanal</translation>
    </message>
    <message>
        <source>The authorization has expired; sign in again.</source>
        <translation>Die Berechtigung ist abgelaufen; melden Sie sich erneut an.</translation>
    </message>
    <message>
        <source>The video service gave no upload address.</source>
        <translation>Der Videodienst hat keine Adresse zum Hochladen genannt.</translation>
    </message>
    <message>
        <source>The video service gave an upload address elsewhere (%1); nothing was sent there.</source>
        <translation>Der Videodienst hat eine Adresse zum Hochladen anderswo genannt (%1); dorthin wurde nichts gesendet.</translation>
    </message>
    <message>
        <source>The video service keeps asking for the video again; the upload was stopped.</source>
        <translation>Der Videodienst fordert das Video immer wieder an; das Hochladen wurde abgebrochen.</translation>
    </message>
    <message>
        <source>The video service reports more data than was sent.</source>
        <translation>Der Videodienst meldet mehr Daten, als gesendet wurden.</translation>
    </message>
    <message>
        <source>The video service does not keep what is sent to it.</source>
        <translation>Der Videodienst behält nicht, was ihm gesendet wird.</translation>
    </message>
    <message>
        <source>The upload session has expired; try again.</source>
        <translation>Die Sitzung zum Hochladen ist abgelaufen; versuchen Sie es erneut.</translation>
    </message>
</context>
<context>
    <name>YouTubeWindowController</name>
    <message>
        <source>Send to YouTube</source>
        <translation>An YouTube senden</translation>
    </message>
    <message>
        <source>Need an Account?</source>
        <translation>Noch kein Konto?</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>Titel:</translation>
    </message>
    <message>
        <source>Description:</source>
        <translation>Beschreibung:</translation>
    </message>
    <message>
        <source>Separated by commas or spaces</source>
        <translation>Durch Kommas oder Leerzeichen getrennt</translation>
    </message>
    <message>
        <source>Keywords:</source>
        <translation>Stichwörter:</translation>
    </message>
    <message>
        <source>Category:</source>
        <translation>Kategorie:</translation>
    </message>
    <message>
        <source>Make this video private</source>
        <translation>Dieses Video privat machen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Upload</source>
        <translation>Hochladen</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message>
        <source>Your tape is on YouTube. It may take a few minutes before the video can be watched.</source>
        <translation>Ihre Kassette ist auf YouTube. Es kann einige Minuten dauern, bis das Video angesehen werden kann.</translation>
    </message>
    <message>
        <source>View My Videos</source>
        <translation>Meine Videos ansehen</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Created with Cassora</source>
        <translation>Erstellt mit Cassora</translation>
    </message>
    <message>
        <source>Sign Out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Sign In</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>To upload, add your own OAuth client ID and secret to the settings (see the README). Save Movie… in the share menu makes the movie without an account.</source>
        <translation>Zum Hochladen tragen Sie Ihre eigene OAuth-Client-ID und das Geheimnis in die Einstellungen ein (siehe README). „Film speichern …“ im Teilen-Menü erstellt den Film ohne Konto.</translation>
    </message>
    <message>
        <source>Signed in as %1</source>
        <translation>Angemeldet als %1</translation>
    </message>
    <message>
        <source>Not signed in</source>
        <translation>Nicht angemeldet</translation>
    </message>
    <message>
        <source>Fields Missing</source>
        <translation>Felder fehlen</translation>
    </message>
    <message>
        <source>All fields must be filled out to upload your video.</source>
        <translation>Zum Hochladen des Videos müssen alle Felder ausgefüllt sein.</translation>
    </message>
    <message>
        <source>Creating video from tape…</source>
        <translation>Video wird aus der Kassette erstellt …</translation>
    </message>
    <message>
        <source>The video could not be made: %1</source>
        <translation>Das Video konnte nicht erstellt werden: %1</translation>
    </message>
    <message>
        <source>The video could not be read</source>
        <translation>Das Video konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>Uploading to YouTube…</source>
        <translation>Wird zu YouTube hochgeladen …</translation>
    </message>
    <message>
        <source>The video could not be uploaded</source>
        <translation>Das Video konnte nicht hochgeladen werden</translation>
    </message>
    <message>
        <source>The upload stopped</source>
        <translation>Das Hochladen wurde abgebrochen</translation>
    </message>
    <message>
        <source>The upload stopped: %1</source>
        <translation>Das Hochladen wurde abgebrochen: %1</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>QObject</name>
    <message>
        <source>Incomplete: its conversion was stopped or cut off before the end. Copy to PSP asks before copying it.</source>
        <translation>Unvollständig: Seine Konvertierung wurde vor dem Ende angehalten oder abgebrochen. „Auf PSP kopieren“ fragt vor dem Kopieren nach.</translation>
    </message>
</context>
<context>
    <name>TCommandBar</name>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
</context>
<context>
    <name>TFoldersPage</name>
    <message>
        <source>Folders</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Browse for the %1</source>
        <translation>%1 auswählen</translation>
    </message>
    <message>
        <source>Device folder</source>
        <translation>Geräteordner</translation>
    </message>
    <message>
        <source>Choose the PSP memory stick with Browse</source>
        <translation>PSP-Memory-Stick mit „Durchsuchen“ wählen</translation>
    </message>
    <message>
        <source>Convert output folder</source>
        <translation>Ausgabeordner</translation>
    </message>
    <message>
        <source>On the memory stick</source>
        <translation>Auf dem Memory Stick</translation>
    </message>
    <message>
        <source>Remove from stick</source>
        <translation>Vom Stick entfernen</translation>
    </message>
    <message>
        <source>Removes the selected videos and their thumbnails from the memory stick</source>
        <translation>Entfernt die ausgewählten Videos und ihre Vorschaubilder vom Memory Stick</translation>
    </message>
    <message>
        <source>Eject</source>
        <translation>Auswerfen</translation>
    </message>
    <message>
        <source>Writes everything out, unmounts the stick and powers it off, so that it can be pulled out safely</source>
        <translation>Schreibt alles auf den Stick, hängt ihn aus und schaltet ihn ab, damit er sicher abgezogen werden kann</translation>
    </message>
    <message>
        <source>Video files</source>
        <translation>Videodateien</translation>
    </message>
    <message>
        <source>Converted files</source>
        <translation>Konvertierte Dateien</translation>
    </message>
    <message>
        <source>Share of the device&apos;s free space the selection needs</source>
        <translation>Anteil des freien Speichers auf dem Gerät, den die Auswahl braucht</translation>
    </message>
    <message>
        <source>Space the selection needs</source>
        <translation>Platzbedarf der Auswahl</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Aktualisieren</translation>
    </message>
    <message>
        <source>Copy to PSP</source>
        <translation>Auf PSP kopieren</translation>
    </message>
    <message>
        <source>The settings file cannot be read (%1). The folders chosen now are used until the window closes; the file is left as it is.</source>
        <translation>Die Einstellungsdatei kann nicht gelesen werden (%1). Die jetzt gewählten Ordner gelten, bis das Fenster geschlossen wird; die Datei bleibt unverändert.</translation>
    </message>
    <message>
        <source>The PSP finds videos only from the top folder of its memory stick, so %1 is used as the device folder rather than %2.</source>
        <translation>Die PSP findet Videos nur vom obersten Ordner ihres Memory Sticks aus, daher wird %1 statt %2 als Geräteordner verwendet.</translation>
    </message>
    <message>
        <source>PSP memory stick found at %1: use it</source>
        <translation>PSP-Memory-Stick unter %1 gefunden: verwenden</translation>
    </message>
    <message>
        <source>Missing: the memory stick is not plugged in</source>
        <translation>Fehlt: Der Memory Stick ist nicht angeschlossen</translation>
    </message>
    <message>
        <source>No device folder chosen.</source>
        <translation>Kein Geräteordner gewählt.</translation>
    </message>
    <message>
        <source>The device folder %1 is missing: plug in the PSP (USB mode) or choose another folder.</source>
        <translation>Der Geräteordner %1 fehlt: Schließen Sie die PSP an (USB-Modus) oder wählen Sie einen anderen Ordner.</translation>
    </message>
    <message numerus="yes">
        <source>%n video(s)</source>
        <translation>
            <numerusform>%n Video</numerusform>
            <numerusform>%n Videos</numerusform>
        </translation>
    </message>
    <message>
        <source>, %1 on the stick; %2 free.</source>
        <translation>, %1 auf dem Stick; %2 frei.</translation>
    </message>
    <message>
        <source>Please select videos on the memory stick.</source>
        <translation>Bitte wählen Sie Videos auf dem Memory Stick aus.</translation>
    </message>
    <message numerus="yes">
        <source>Remove %n video(s) from the memory stick, with their thumbnails?</source>
        <translation>
            <numerusform>%n Video mit Vorschaubild vom Memory Stick entfernen?</numerusform>
            <numerusform>%n Videos mit ihren Vorschaubildern vom Memory Stick entfernen?</numerusform>
        </translation>
    </message>
    <message>
        <source>Could not remove from the memory stick:</source>
        <translation>Konnte nicht vom Memory Stick entfernt werden:</translation>
    </message>
    <message>
        <source>Ejecting the stick…</source>
        <translation>Stick wird ausgeworfen…</translation>
    </message>
    <message>
        <source>  (Incomplete)</source>
        <translation>  (Unvollständig)</translation>
    </message>
    <message>
        <source>The memory stick at %1 is not there any more: plug in the PSP (USB mode) again, or choose another device folder.</source>
        <translation>Der Memory Stick unter %1 ist nicht mehr da: Schließen Sie die PSP erneut an (USB-Modus) oder wählen Sie einen anderen Geräteordner.</translation>
    </message>
    <message numerus="yes">
        <source>%n of the selected files did not finish converting (stopped or cut off before the end):</source>
        <translation>
            <numerusform>%n der ausgewählten Dateien wurde nicht fertig konvertiert (angehalten oder vor dem Ende abgebrochen):</numerusform>
            <numerusform>%n der ausgewählten Dateien wurden nicht fertig konvertiert (angehalten oder vor dem Ende abgebrochen):</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Copy them to the PSP all the same? No leaves them out.</source>
        <translation>
            <numerusform>Trotzdem auf die PSP kopieren? „Nein“ lässt sie aus.</numerusform>
            <numerusform>Trotzdem auf die PSP kopieren? „Nein“ lässt sie aus.</numerusform>
        </translation>
    </message>
    <message>
        <source>Copying to the PSP…</source>
        <translation>Kopieren auf die PSP…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Cancelling…</source>
        <translation>Wird abgebrochen…</translation>
    </message>
    <message>
        <source>Copying %1 to %2 (file %3 of %4)
%5 of %6</source>
        <translation>%1 wird nach %2 kopiert (Datei %3 von %4)
%5 von %6</translation>
    </message>
    <message>
        <source>Filename</source>
        <translation>Dateiname</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Dauer</translation>
    </message>
    <message>
        <source>File Size</source>
        <translation>Dateigröße</translation>
    </message>
    <message>
        <source>PSP name</source>
        <translation>PSP-Name</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titel</translation>
    </message>
    <message>
        <source>Plays on the PSP</source>
        <translation>Läuft auf der PSP</translation>
    </message>
    <message>
        <source>The memory stick</source>
        <translation>Der Memory Stick</translation>
    </message>
    <message>
        <source>Selection: %p% of the free room</source>
        <translation>Auswahl: %p% des freien Platzes</translation>
    </message>
    <message>
        <source>Send to PSP</source>
        <translation>An PSP senden</translation>
    </message>
    <message>
        <source>Converts what is waiting on the Convert page and puts the list&apos;s videos on the memory stick, in order, while they fit</source>
        <translation>Konvertiert, was auf der Seite „Konvertieren“ wartet, und legt die Videos der Liste der Reihe nach auf den Memory Stick, solange sie passen</translation>
    </message>
    <message>
        <source>Eject when done</source>
        <translation>Danach auswerfen</translation>
    </message>
    <message>
        <source>Send to PSP ejects the memory stick when it has finished</source>
        <translation>„An PSP senden“ wirft den Memory Stick aus, wenn es fertig ist</translation>
    </message>
    <message>
        <source>Memory stick: </source>
        <translation>Memory Stick: </translation>
    </message>
    <message>
        <source>Choose the PSP memory stick first: the device folder is not set.</source>
        <translation>Zuerst den PSP-Memory-Stick wählen: Der Geräteordner ist nicht festgelegt.</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>ja</translation>
    </message>
    <message>
        <source>no: %1</source>
        <translation>nein: %1</translation>
    </message>
</context>
<context>
    <name>THomePicture</name>
    <message>
        <source>Your videos, ready for the PSP</source>
        <translation>Ihre Videos, bereit für die PSP</translation>
    </message>
    <message>
        <source>Add files on the Convert page, press Start,
then copy them to the memory stick on Folders and Files.</source>
        <translation>Dateien auf der Seite „Konvertieren“ hinzufügen, „Start“ drücken,
dann unter „Ordner und Dateien“ auf den Memory Stick kopieren.</translation>
    </message>
</context>
<context>
    <name>TPreviewBox</name>
    <message>
        <source>Preview position</source>
        <translation>Vorschauposition</translation>
    </message>
    <message>
        <source>Time of the preview&apos;s picture</source>
        <translation>Zeitpunkt des Bildes in der Vorschau</translation>
    </message>
    <message>
        <source>Preview position: %1</source>
        <translation>Vorschauposition: %1</translation>
    </message>
    <message>
        <source>Ctrl+Left, Ctrl+Right: the previous, the next picture. Shift+Left, Shift+Right: one second back, on.</source>
        <translation>Strg+Links, Strg+Rechts: das vorige, das nächste Bild. Umschalt+Links, Umschalt+Rechts: eine Sekunde zurück, vor.</translation>
    </message>
    <message>
        <source>Preview picture</source>
        <translation>Vorschaubild</translation>
    </message>
</context>
<context>
    <name>TSendToPSP</name>
    <message>
        <source>Nothing to send: add files on the Convert page first.</source>
        <translation>Nichts zu senden: Zuerst Dateien auf der Seite „Konvertieren“ hinzufügen.</translation>
    </message>
    <message>
        <source>The batch %1.

Send those that fit at the usual quality?</source>
        <translation>Der Stapel %1.

Diejenigen senden, die in der üblichen Qualität passen?</translation>
    </message>
    <message>
        <source>Send what fits</source>
        <translation>Senden, was passt</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>The videos do not all fit on the memory stick at the usual quality. Convert them at %1?

Keeping the quality sends those that fit, in the list&apos;s order.</source>
        <translation>Die Videos passen in der üblichen Qualität nicht alle auf den Memory Stick. Mit %1 konvertieren?

Beim Beibehalten der Qualität werden die passenden in der Reihenfolge der Liste gesendet.</translation>
    </message>
    <message>
        <source>Make them fit</source>
        <translation>Passend machen</translation>
    </message>
    <message>
        <source>Keep the quality</source>
        <translation>Qualität beibehalten</translation>
    </message>
    <message>
        <source>Send to PSP stopped with the conversion: nothing was copied to the memory stick.</source>
        <translation>„An PSP senden“ wurde mit der Konvertierung beendet: Nichts wurde auf den Memory Stick kopiert.</translation>
    </message>
    <message numerus="yes">
        <source>%n video(s) on the memory stick</source>
        <translation>
            <numerusform>%n Video auf dem Memory Stick</numerusform>
            <numerusform>%n Videos auf dem Memory Stick</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n did not fit</source>
        <translation>
            <numerusform>, %n hat nicht gepasst</numerusform>
            <numerusform>, %n haben nicht gepasst</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TfrmConvertItem</name>
    <message>
        <source>Preview position</source>
        <translation>Vorschauposition</translation>
    </message>
    <message>
        <source>Input</source>
        <translation>Eingabe</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>Ausgabe</translation>
    </message>
    <message>
        <source>Stopped at %1%</source>
        <translation>Angehalten bei %1 %</translation>
    </message>
    <message>
        <source>Done, no thumbnail</source>
        <translation>Fertig, ohne Vorschaubild</translation>
    </message>
    <message>
        <source>Expected size of the converted file</source>
        <translation>Erwartete Größe der konvertierten Datei</translation>
    </message>
    <message>
        <source>Show log…</source>
        <translation>Protokoll anzeigen…</translation>
    </message>
    <message>
        <source>Open containing folder</source>
        <translation>Übergeordneten Ordner öffnen</translation>
    </message>
    <message>
        <source>%1 could not be opened: the desktop has no program to show folders with.</source>
        <translation>%1 konnte nicht geöffnet werden: Der Desktop hat kein Programm zum Anzeigen von Ordnern.</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Abspielen</translation>
    </message>
    <message>
        <source>%1 could not be played: the desktop has no player for it.</source>
        <translation>%1 konnte nicht abgespielt werden: Der Desktop hat keinen Player dafür.</translation>
    </message>
    <message>
        <source>about %1</source>
        <translation>etwa %1</translation>
    </message>
    <message>
        <source>Paused at %p%</source>
        <translation>Pausiert bei %p %</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>The thumbnail of %1 was not written: %2</source>
        <translation>Das Vorschaubild von %1 wurde nicht geschrieben: %2</translation>
    </message>
    <message>
        <source>Input ended at %1%</source>
        <translation>Eingabe endete bei %1 %</translation>
    </message>
    <message>
        <source>The input ended at %1 of the %2 it states: it may be cut short or damaged. What it held is converted.</source>
        <translation>Die Eingabe endete bei %1 der angegebenen %2: Sie ist vielleicht gekürzt oder beschädigt. Was sie enthielt, wird konvertiert.</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
    <message>
        <source>Stopped at %p%</source>
        <translation>Angehalten bei %p %</translation>
    </message>
    <message>
        <source>Log of %1</source>
        <translation>Protokoll von %1</translation>
    </message>
    <message>
        <source>Nothing has been said about this file yet.</source>
        <translation>Zu dieser Datei wurde noch nichts gemeldet.</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Sound</source>
        <translation>Ton</translation>
    </message>
    <message>
        <source>Subtitles</source>
        <translation>Untertitel</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>Subtitle file...</source>
        <translation>Untertiteldatei…</translation>
    </message>
    <message>
        <source>Subtitles to burn into the picture</source>
        <translation>Untertitel, die ins Bild eingebrannt werden</translation>
    </message>
    <message>
        <source>Subtitles (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)</source>
        <translation>Untertitel (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)</translation>
    </message>
    <message>
        <source>Set start (%1)</source>
        <translation>Anfang setzen (%1)</translation>
    </message>
    <message>
        <source>Set end (%1)</source>
        <translation>Ende setzen (%1)</translation>
    </message>
    <message>
        <source>Whole file</source>
        <translation>Ganze Datei</translation>
    </message>
    <message>
        <source>%1 s still</source>
        <translation>%1 s Standbild</translation>
    </message>
    <message>
        <source>Sound %1</source>
        <translation>Ton %1</translation>
    </message>
    <message>
        <source>Subtitles %1</source>
        <translation>Untertitel %1</translation>
    </message>
    <message>
        <source>%1 (forced)</source>
        <translation>%1 (erzwungen)</translation>
    </message>
    <message>
        <source>
(right-click the panel to choose)</source>
        <translation>
(zur Auswahl mit rechts auf den Eintrag klicken)</translation>
    </message>
    <message>
        <source>Space selects the panel; the Menu key opens its menu; [ and ] set the start and end of the part to convert at the preview&apos;s picture.</source>
        <translation>Leertaste wählt den Eintrag aus; die Menütaste öffnet sein Menü; [ und ] setzen Anfang und Ende des zu konvertierenden Teils auf das Bild der Vorschau.</translation>
    </message>
    <message>
        <source>Output file name</source>
        <translation>Name der Ausgabedatei</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titel</translation>
    </message>
    <message>
        <source>Profile</source>
        <translation>Profil</translation>
    </message>
    <message>
        <source>Progress of %1</source>
        <translation>Fortschritt von %1</translation>
    </message>
    <message>
        <source>Filename:</source>
        <translation>Datei:</translation>
    </message>
    <message>
        <source>Format:</source>
        <translation>Format:</translation>
    </message>
    <message>
        <source>Duration:</source>
        <translation>Dauer:</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>Titel:</translation>
    </message>
    <message>
        <source>end</source>
        <translation>Ende</translation>
    </message>
</context>
<context>
    <name>TfrmConvertList</name>
    <message>
        <source>%1 files could not be added:</source>
        <translation>%1 Dateien konnten nicht hinzugefügt werden:</translation>
    </message>
    <message>
        <source>Click the panels to remove (or press Space on one), then Remove.</source>
        <translation>Klicken Sie die zu entfernenden Einträge an (oder drücken Sie darauf die Leertaste), dann „Entfernen“.</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>Pausiert</translation>
    </message>
    <message>
        <source>Conversion stopped</source>
        <translation>Konvertierung angehalten</translation>
    </message>
    <message>
        <source>Stopping…</source>
        <translation>Wird angehalten…</translation>
    </message>
    <message>
        <source>Nothing is converting</source>
        <translation>Es wird nichts konvertiert</translation>
    </message>
    <message>
        <source>Nothing is paused</source>
        <translation>Nichts ist pausiert</translation>
    </message>
    <message>
        <source>Converting %1</source>
        <translation>%1 wird konvertiert</translation>
    </message>
    <message>
        <source>Nothing to start: add files first</source>
        <translation>Nichts zu starten: Fügen Sie zuerst Dateien hinzu</translation>
    </message>
    <message>
        <source>Paused: Resume goes on, Stop ends the batch</source>
        <translation>Pausiert: „Fortsetzen“ macht weiter, „Stopp“ beendet den Stapel</translation>
    </message>
    <message>
        <source>Converting %1 (%2 of %3)</source>
        <translation>%1 wird konvertiert (%2 von %3)</translation>
    </message>
    <message>
        <source>Conversion failed: %1</source>
        <translation>Konvertierung fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>All conversions finished</source>
        <translation>Alle Konvertierungen abgeschlossen</translation>
    </message>
    <message>
        <source>Add video, audio or picture files with “Add”, or drop them here.</source>
        <translation>Fügen Sie Video-, Audio- oder Bilddateien mit „Hinzufügen“ hinzu oder ziehen Sie sie hierher.</translation>
    </message>
</context>
<context>
    <name>TfrmMain</name>
    <message>
        <source>Home</source>
        <translation>Startseite</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Konvertieren</translation>
    </message>
    <message>
        <source>Folders and Files</source>
        <translation>Ordner und Dateien</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Expected size</source>
        <translation>Erwartete Größe</translation>
    </message>
    <message numerus="yes">
        <source>Restore %n file(s) from last time</source>
        <translation>
            <numerusform>%n Datei vom letzten Mal wiederherstellen</numerusform>
            <numerusform>%n Dateien vom letzten Mal wiederherstellen</numerusform>
        </translation>
    </message>
    <message>
        <source>Pages</source>
        <translation>Seiten</translation>
    </message>
    <message>
        <source>Commands</source>
        <translation>Befehle</translation>
    </message>
    <message>
        <source>Conversion list</source>
        <translation>Konvertierungsliste</translation>
    </message>
    <message>
        <source>The files to convert, one panel each: arrow keys move between them, Space selects, the Menu key opens a panel&apos;s menu.</source>
        <translation>Die zu konvertierenden Dateien, je ein Eintrag: Pfeiltasten wechseln zwischen ihnen, Leertaste wählt aus, die Menütaste öffnet das Menü eines Eintrags.</translation>
    </message>
    <message>
        <source>Overall progress</source>
        <translation>Gesamtfortschritt</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>&amp;Convert</source>
        <translation>&amp;Konvertieren</translation>
    </message>
    <message>
        <source>&amp;Go</source>
        <translation>&amp;Gehe zu</translation>
    </message>
    <message>
        <source>&amp;Home</source>
        <translation>&amp;Startseite</translation>
    </message>
    <message>
        <source>&amp;Folders and Files</source>
        <translation>&amp;Ordner und Dateien</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>&amp;About Korvelo Converter</source>
        <translation>Ü&amp;ber Korvelo Converter</translation>
    </message>
    <message>
        <source>About Korvelo Converter</source>
        <translation>Über Korvelo Converter</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Korvelo Converter&lt;/h3&gt;&lt;p&gt;Version %1&lt;/p&gt;&lt;p&gt;Turns video, audio and picture files into MP4 files that the PSP plays, and copies them onto its memory stick.&lt;/p&gt;&lt;p&gt;%2&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Korvelo Converter&lt;/h3&gt;&lt;p&gt;Version %1&lt;/p&gt;&lt;p&gt;Wandelt Video-, Audio- und Bilddateien in MP4-Dateien um, die die PSP abspielt, und kopiert sie auf ihren Memory Stick.&lt;/p&gt;&lt;p&gt;%2&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Thanks to Developer Teams for: FFmpeg&apos;s libraries and AAC encoder, x264, libass, Qt, libjpeg-turbo</source>
        <translation>Dank an die Entwicklerteams von: FFmpegs Bibliotheken und AAC-Encoder, x264, libass, Qt, libjpeg-turbo</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Korvelo Converter %1</source>
        <translation>Korvelo Converter %1</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Nothing to stop</source>
        <translation>Nichts anzuhalten</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Fortsetzen</translation>
    </message>
    <message>
        <source>AVC Folder</source>
        <translation>AVC-Ordner</translation>
    </message>
    <message>
        <source>Open AVC output folder</source>
        <translation>AVC-Ausgabeordner öffnen</translation>
    </message>
    <message>
        <source>MPEG4 Folder</source>
        <translation>MPEG4-Ordner</translation>
    </message>
    <message>
        <source>Open MPEG4 output folder</source>
        <translation>MPEG4-Ausgabeordner öffnen</translation>
    </message>
    <message>
        <source>Device Folder</source>
        <translation>Geräteordner</translation>
    </message>
    <message>
        <source>Open Device Folder</source>
        <translation>Geräteordner öffnen</translation>
    </message>
    <message>
        <source>Add files</source>
        <translation>Dateien hinzufügen</translation>
    </message>
    <message>
        <source>%1 could not be opened: the desktop has no program to show folders with.</source>
        <translation>%1 konnte nicht geöffnet werden: Der Desktop hat kein Programm zum Anzeigen von Ordnern.</translation>
    </message>
    <message>
        <source>A conversion is running. Stop it and quit?</source>
        <translation>Eine Konvertierung läuft. Anhalten und beenden?</translation>
    </message>
    <message>
        <source>Stop and quit</source>
        <translation>Anhalten und beenden</translation>
    </message>
    <message>
        <source>Keep converting</source>
        <translation>Weiter konvertieren</translation>
    </message>
    <message>
        <source>Stopping the conversion before closing…</source>
        <translation>Die Konvertierung wird vor dem Schließen angehalten…</translation>
    </message>
    <message>
        <source>The files still to convert could not be kept for the next start (%1).</source>
        <translation>Die noch zu konvertierenden Dateien konnten nicht für den nächsten Start gespeichert werden (%1).</translation>
    </message>
    <message>
        <source>The folder settings could not be saved (%1): the next start will not know the folders chosen now.</source>
        <translation>Die Ordnereinstellungen konnten nicht gespeichert werden (%1): Beim nächsten Start sind die jetzt gewählten Ordner nicht bekannt.</translation>
    </message>
    <message>
        <source>Send to PSP</source>
        <translation>An PSP senden</translation>
    </message>
    <message>
        <source>Convert what is waiting and put the videos on the memory stick</source>
        <translation>Konvertieren, was wartet, und die Videos auf den Memory Stick legen</translation>
    </message>
</context>
</TS>

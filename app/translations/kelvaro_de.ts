<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>kelvaro::app::TForm1</name>
    <message>
        <source>&amp;Add</source>
        <translation>&amp;Hinzufügen</translation>
    </message>
    <message>
        <source>Add audio files to the list (Ctrl+O)</source>
        <translation>Audiodateien zur Liste hinzufügen (Strg+O)</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>Remove the selected files from the list (Delete)</source>
        <translation>Die gewählten Dateien aus der Liste entfernen (Entf)</translation>
    </message>
    <message>
        <source>C&amp;lean</source>
        <translation>&amp;Leeren</translation>
    </message>
    <message>
        <source>Empty the list</source>
        <translation>Die Liste leeren</translation>
    </message>
    <message>
        <source>&amp;Settings</source>
        <translation>Ein&amp;stellungen</translation>
    </message>
    <message>
        <source>Choose the output folder and how many files convert at once</source>
        <translation>Den Zielordner wählen und wie viele Dateien gleichzeitig konvertiert werden</translation>
    </message>
    <message>
        <source>Add &amp;Folder</source>
        <translation>&amp;Ordner hinzufügen</translation>
    </message>
    <message>
        <source>Add the audio files of a folder and its subfolders</source>
        <translation>Die Audiodateien eines Ordners und seiner Unterordner hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>Hil&amp;fe</translation>
    </message>
    <message>
        <source>Open the help page</source>
        <translation>Die Hilfeseite öffnen</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Stats</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Pfad</translation>
    </message>
    <message>
        <source>Drop audio files here, or press Add</source>
        <translation>Audiodateien hierher ziehen oder auf Hinzufügen klicken</translation>
    </message>
    <message>
        <source>The format of the converted files</source>
        <translation>Das Format der konvertierten Dateien</translation>
    </message>
    <message>
        <source>S&amp;top</source>
        <translation>&amp;Anhalten</translation>
    </message>
    <message>
        <source>Stop converting</source>
        <translation>Das Konvertieren anhalten</translation>
    </message>
    <message>
        <source>&amp;Convert</source>
        <translation>&amp;Konvertieren</translation>
    </message>
    <message>
        <source>Convert every file of the list into the output folder</source>
        <translation>Jede Datei der Liste in den Zielordner konvertieren</translation>
    </message>
    <message>
        <source>Every file of the last run that was not converted, and why</source>
        <translation>Jede Datei des letzten Laufs, die nicht konvertiert wurde, und warum</translation>
    </message>
    <message>
        <source> Kelvaro V2.0</source>
        <translation> Kelvaro V2.0</translation>
    </message>
    <message>
        <source>  WMA  (*.wma)</source>
        <translation>  WMA  (*.wma)</translation>
    </message>
    <message>
        <source>  WAV  (*.wav)</source>
        <translation>  WAV  (*.wav)</translation>
    </message>
    <message>
        <source>(none: choose one in Settings)</source>
        <translation>(keiner: in den Einstellungen wählen)</translation>
    </message>
    <message>
        <source>To: %1</source>
        <translation>Nach: %1</translation>
    </message>
    <message>
        <source>Converted files go to %1. Click to change.</source>
        <translation>Konvertierte Dateien kommen nach %1. Zum Ändern klicken.</translation>
    </message>
    <message>
        <source>1 file added</source>
        <translation>1 Datei hinzugefügt</translation>
    </message>
    <message>
        <source>%1 files added</source>
        <translation>%1 Dateien hinzugefügt</translation>
    </message>
    <message>
        <source>no extension</source>
        <translation>ohne Endung</translation>
    </message>
    <message>
        <source>, %1 skipped: not a kind of file Kelvaro reads (%2)</source>
        <translation>, %1 übergangen: keine Dateiart, die Kelvaro liest (%2)</translation>
    </message>
    <message>
        <source>Cannot open %1</source>
        <translation>%1 kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Add the files to convert first</source>
        <translation>Zuerst die zu konvertierenden Dateien hinzufügen</translation>
    </message>
    <message>
        <source>Choose an output folder in Settings first</source>
        <translation>Zuerst in den Einstellungen einen Zielordner wählen</translation>
    </message>
    <message>
        <source>Cannot create the output folder %1: %2</source>
        <translation>Der Zielordner %1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>Please Wait......</source>
        <translation>Bitte warten......</translation>
    </message>
    <message>
        <source>An unknown failure while adding the file</source>
        <translation>Ein unbekannter Fehler beim Hinzufügen der Datei</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>abgelehnt</translation>
    </message>
    <message>
        <source>   File: %1 of %2         Completed: %3      %4</source>
        <translation>   Datei: %1 von %2         Erledigt: %3      %4</translation>
    </message>
    <message>
        <source>   (length unknown)</source>
        <translation>   (Länge unbekannt)</translation>
    </message>
    <message>
        <source>done, warning</source>
        <translation>fertig, Warnung</translation>
    </message>
    <message>
        <source>warning: %1</source>
        <translation>Warnung: %1</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>angehalten</translation>
    </message>
    <message>
        <source>Stopped before the end of the file</source>
        <translation>Vor dem Ende der Datei angehalten</translation>
    </message>
    <message>
        <source>The conversion did not finish</source>
        <translation>Die Konvertierung wurde nicht beendet</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>&amp;Problems (%1)</source>
        <translation>&amp;Probleme (%1)</translation>
    </message>
    <message>
        <source>%1 could not be opened</source>
        <translation>%1 nicht zu öffnen</translation>
    </message>
    <message>
        <source>%1 would overwrite another file</source>
        <translation>%1 würden eine andere Datei überschreiben</translation>
    </message>
    <message>
        <source>%1 failed</source>
        <translation>%1 fehlgeschlagen</translation>
    </message>
    <message>
        <source>%1 stopped</source>
        <translation>%1 angehalten</translation>
    </message>
    <message>
        <source>- 1 file done with a warning</source>
        <translation>- 1 Datei mit einer Warnung fertig</translation>
    </message>
    <message>
        <source>- %1 files done with a warning</source>
        <translation>- %1 Dateien mit einer Warnung fertig</translation>
    </message>
    <message>
        <source>- 1 file not converted (%1)</source>
        <translation>- 1 Datei nicht konvertiert (%1)</translation>
    </message>
    <message>
        <source>- %1 files not converted (%2)</source>
        <translation>- %1 Dateien nicht konvertiert (%2)</translation>
    </message>
    <message>
        <source>1 file converted</source>
        <translation>1 Datei konvertiert</translation>
    </message>
    <message>
        <source>%1 files converted</source>
        <translation>%1 Dateien konvertiert</translation>
    </message>
    <message>
        <source>, %1 not converted</source>
        <translation>, %1 nicht konvertiert</translation>
    </message>
    <message>
        <source>Kelvaro: conversion finished</source>
        <translation>Kelvaro: Konvertierung beendet</translation>
    </message>
</context>
<context>
    <name>kelvaro::app::TFset</name>
    <message>
        <source> Settings</source>
        <translation> Einstellungen</translation>
    </message>
    <message>
        <source>Output Path</source>
        <translation>Zielordner</translation>
    </message>
    <message>
        <source>Please click button to change path</source>
        <translation>Zum Ändern des Ordners auf die Schaltfläche klicken</translation>
    </message>
    <message>
        <source>&amp;Browse</source>
        <translation>Du&amp;rchsuchen</translation>
    </message>
    <message>
        <source>Pick the folder in a folder dialog</source>
        <translation>Den Ordner in einem Ordnerdialog wählen</translation>
    </message>
    <message>
        <source>The folder that receives the converted files; ~ is your home</source>
        <translation>Der Ordner, der die konvertierten Dateien erhält; ~ ist Ihr Persönlicher Ordner</translation>
    </message>
    <message>
        <source>&amp;Save as default</source>
        <translation>Als &amp;Standard speichern</translation>
    </message>
    <message>
        <source>Use this folder also the next time Kelvaro starts</source>
        <translation>Diesen Ordner auch beim nächsten Start von Kelvaro verwenden</translation>
    </message>
    <message>
        <source>Conversion</source>
        <translation>Konvertierung</translation>
    </message>
    <message>
        <source>More than one uses more of the processor&apos;s cores</source>
        <translation>Mehr als eine nutzt mehr Kerne des Prozessors</translation>
    </message>
    <message>
        <source>&amp;Files converted at once:</source>
        <translation>Gleichzeitig konvertierte &amp;Dateien:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Use this folder now</source>
        <translation>Diesen Ordner jetzt verwenden</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Change nothing</source>
        <translation>Nichts ändern</translation>
    </message>
    <message>
        <source>Unable to write to %1</source>
        <translation>In %1 kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>Saved: used from the next start on</source>
        <translation>Gespeichert: gilt ab dem nächsten Start</translation>
    </message>
</context>
<context>
    <name>kelvaro::app::TProblemsDialog</name>
    <message>
        <source>Problems</source>
        <translation>Probleme</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>Grund</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Kopieren</translation>
    </message>
    <message>
        <source>Copy the selected lines, or all of them, as text</source>
        <translation>Die gewählten Zeilen, oder alle, als Text kopieren</translation>
    </message>
    <message>
        <source>Close this list</source>
        <translation>Diese Liste schließen</translation>
    </message>
</context>
</TS>

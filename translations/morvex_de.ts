<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>DeviceChoice</name>
    <message>
        <source>Connecting to the MIDI service...</source>
        <translation>Verbindung zum MIDI-Dienst wird hergestellt...</translation>
    </message>
    <message>
        <source>This device cannot answer: Morvex finds no way back from it.</source>
        <translation>Dieses Gerät kann nicht antworten: Morvex findet keinen Rückweg von ihm.</translation>
    </message>
    <message>
        <source>Identify Device</source>
        <translation>Gerät identifizieren</translation>
    </message>
</context>
<context>
    <name>FileList</name>
    <message>
        <source>Select the Folder of Update Files</source>
        <translation>Ordner mit den Update-Dateien wählen</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Auswählen</translation>
    </message>
    <message>
        <source>Reading the files...</source>
        <translation>Dateien werden gelesen...</translation>
    </message>
    <message>
        <source>file</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>message</source>
        <translation>Nachricht</translation>
    </message>
    <message>
        <source>messages</source>
        <translation>Nachrichten</translation>
    </message>
    <message>
        <source>about %1</source>
        <translation>etwa %1</translation>
    </message>
    <message>
        <source>%1× slower</source>
        <translation>%1× langsamer</translation>
    </message>
</context>
<context>
    <name>FileTableModel</name>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Morvex</source>
        <translation>Morvex</translation>
    </message>
    <message>
        <source>&amp;Device:</source>
        <translation>&amp;Gerät:</translation>
    </message>
    <message>
        <source>MIDI device</source>
        <translation>MIDI-Gerät</translation>
    </message>
    <message>
        <source>No device</source>
        <translation>Kein Gerät</translation>
    </message>
    <message>
        <source>F&amp;older:</source>
        <translation>&amp;Ordner:</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Select folder</source>
        <translation>Ordner wählen</translation>
    </message>
    <message>
        <source>F&amp;iles:</source>
        <translation>Date&amp;ien:</translation>
    </message>
    <message>
        <source>Files to send</source>
        <translation>Zu sendende Dateien</translation>
    </message>
    <message>
        <source>What the update holds</source>
        <translation>Inhalt des Updates</translation>
    </message>
    <message>
        <source>Se&amp;nd</source>
        <translation>Se&amp;nden</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>&amp;Morvex</source>
        <translation>&amp;Morvex</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;About Morvex</source>
        <translation>Ü&amp;ber Morvex</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>&amp;Select...</source>
        <translation>&amp;Auswählen...</translation>
    </message>
    <message>
        <source>Choose the folder that holds the update files</source>
        <translation>Den Ordner mit den Update-Dateien wählen</translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation>Ctrl+O</translation>
    </message>
    <message>
        <source>&amp;Device</source>
        <translation>&amp;Gerät</translation>
    </message>
    <message>
        <source>&amp;Identify Device</source>
        <translation>Gerät &amp;identifizieren</translation>
    </message>
    <message>
        <source>Ask the chosen device who it is and which software it runs</source>
        <translation>Das gewählte Gerät fragen, was es ist und welche Software es ausführt</translation>
    </message>
    <message>
        <source>&amp;Pace</source>
        <translation>&amp;Tempo</translation>
    </message>
    <message>
        <source>How fast the update goes: slower, for a device or a route that needs it</source>
        <translation>Wie schnell das Update läuft: langsamer, für ein Gerät oder einen Weg, der es braucht</translation>
    </message>
    <message>
        <source>&amp;As the files say</source>
        <translation>&amp;Wie die Dateien sagen</translation>
    </message>
    <message>
        <source>&amp;1.5× slower</source>
        <translation>&amp;1,5× langsamer</translation>
    </message>
    <message>
        <source>&amp;2× slower</source>
        <translation>&amp;2× langsamer</translation>
    </message>
    <message>
        <source>&amp;4× slower</source>
        <translation>&amp;4× langsamer</translation>
    </message>
</context>
<context>
    <name>ProgressSheet</name>
    <message>
        <source>Sending</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Bytes sent and time left</source>
        <translation>Gesendete Bytes und Restzeit</translation>
    </message>
    <message>
        <source>Percent sent</source>
        <translation>Prozent gesendet</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Pace</source>
        <translation>Tempo</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Damaged Files</source>
        <translation>Beschädigte Dateien</translation>
    </message>
    <message>
        <source>Some files of this update are damaged. Send the update anyway?</source>
        <translation>Einige Dateien dieses Updates sind beschädigt. Das Update trotzdem senden?</translation>
    </message>
    <message>
        <source>

A device given part of an update may not start again.</source>
        <translation>

Ein Gerät, das nur einen Teil eines Updates erhält, startet womöglich nicht mehr.</translation>
    </message>
    <message>
        <source>Other Senders</source>
        <translation>Andere Absender</translation>
    </message>
    <message>
        <source>Other programs send to this device too. Send the update anyway?</source>
        <translation>Auch andere Programme senden an dieses Gerät. Das Update trotzdem senden?</translation>
    </message>
    <message>
        <source>Send Anyway</source>
        <translation>Trotzdem senden</translation>
    </message>
    <message>
        <source>%1 of %2 bytes, %3 left</source>
        <translation>%1 von %2 Bytes, noch %3</translation>
    </message>
</context>
<context>
    <name>Transfer</name>
    <message>
        <source>Sending...</source>
        <translation>Wird gesendet...</translation>
    </message>
    <message>
        <source>Complete Update</source>
        <translation>Update abgeschlossen</translation>
    </message>
    <message>
        <source>Update Incomplete</source>
        <translation>Update unvollständig</translation>
    </message>
    <message>
        <source>Waiting for the device...</source>
        <translation>Warten auf das Gerät...</translation>
    </message>
</context>
<context>
    <name>WindowDefinition</name>
    <message>
        <source>About Morvex</source>
        <translation>Über Morvex</translation>
    </message>
    <message>
        <source>Morvex %1</source>
        <translation>Morvex %1</translation>
    </message>
    <message>
        <source>Sends the System Exclusive messages of an update folder to a MIDI device.

Licence: MIT. Copyright (c) 2026 the Morvex authors.

MIDI service: %1</source>
        <translation>Sendet die System-Exclusive-Nachrichten eines Update-Ordners an ein MIDI-Gerät.

Lizenz: MIT. Copyright (c) 2026 die Morvex-Autoren.

MIDI-Dienst: %1</translation>
    </message>
</context>
<context>
    <name>_Controller</name>
    <message>
        <source>%1× slower than the files say</source>
        <translation>%1× langsamer, als die Dateien sagen</translation>
    </message>
</context>
</TS>

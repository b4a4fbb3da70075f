<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>DeviceChoice</name>
    <message>
        <source>Connecting to the MIDI service...</source>
        <translation>Connexion au service MIDI...</translation>
    </message>
    <message>
        <source>This device cannot answer: Morvex finds no way back from it.</source>
        <translation>Cet appareil ne peut pas répondre : Morvex ne trouve aucun chemin de retour depuis lui.</translation>
    </message>
    <message>
        <source>Identify Device</source>
        <translation>Identifier l’appareil</translation>
    </message>
</context>
<context>
    <name>FileList</name>
    <message>
        <source>Select the Folder of Update Files</source>
        <translation>Choisir le dossier des fichiers de mise à jour</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Choisir</translation>
    </message>
    <message>
        <source>Reading the files...</source>
        <translation>Lecture des fichiers...</translation>
    </message>
    <message>
        <source>file</source>
        <translation>fichier</translation>
    </message>
    <message>
        <source>files</source>
        <translation>fichiers</translation>
    </message>
    <message>
        <source>message</source>
        <translation>message</translation>
    </message>
    <message>
        <source>messages</source>
        <translation>messages</translation>
    </message>
    <message>
        <source>about %1</source>
        <translation>environ %1</translation>
    </message>
    <message>
        <source>%1× slower</source>
        <translation>%1× plus lent</translation>
    </message>
</context>
<context>
    <name>FileTableModel</name>
    <message>
        <source>File</source>
        <translation>Fichier</translation>
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
        <translation>&amp;Appareil :</translation>
    </message>
    <message>
        <source>MIDI device</source>
        <translation>Appareil MIDI</translation>
    </message>
    <message>
        <source>No device</source>
        <translation>Aucun appareil</translation>
    </message>
    <message>
        <source>F&amp;older:</source>
        <translation>&amp;Dossier :</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Dossier</translation>
    </message>
    <message>
        <source>Select folder</source>
        <translation>Choisir le dossier</translation>
    </message>
    <message>
        <source>F&amp;iles:</source>
        <translation>&amp;Fichiers :</translation>
    </message>
    <message>
        <source>Files to send</source>
        <translation>Fichiers à envoyer</translation>
    </message>
    <message>
        <source>What the update holds</source>
        <translation>Contenu de la mise à jour</translation>
    </message>
    <message>
        <source>Se&amp;nd</source>
        <translation>&amp;Envoyer</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Envoyer</translation>
    </message>
    <message>
        <source>&amp;Morvex</source>
        <translation>&amp;Morvex</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>F&amp;ichier</translation>
    </message>
    <message>
        <source>&amp;About Morvex</source>
        <translation>À &amp;propos de Morvex</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>&amp;Select...</source>
        <translation>&amp;Choisir...</translation>
    </message>
    <message>
        <source>Choose the folder that holds the update files</source>
        <translation>Choisir le dossier qui contient les fichiers de mise à jour</translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation>Ctrl+O</translation>
    </message>
    <message>
        <source>&amp;Device</source>
        <translation>&amp;Appareil</translation>
    </message>
    <message>
        <source>&amp;Identify Device</source>
        <translation>&amp;Identifier l’appareil</translation>
    </message>
    <message>
        <source>Ask the chosen device who it is and which software it runs</source>
        <translation>Demander à l’appareil choisi qui il est et quel logiciel il exécute</translation>
    </message>
    <message>
        <source>&amp;Pace</source>
        <translation>&amp;Cadence</translation>
    </message>
    <message>
        <source>How fast the update goes: slower, for a device or a route that needs it</source>
        <translation>La vitesse de la mise à jour : plus lente, pour un appareil ou une liaison qui en a besoin</translation>
    </message>
    <message>
        <source>&amp;As the files say</source>
        <translation>Comme le disent les &amp;fichiers</translation>
    </message>
    <message>
        <source>&amp;1.5× slower</source>
        <translation>&amp;1,5× plus lent</translation>
    </message>
    <message>
        <source>&amp;2× slower</source>
        <translation>&amp;2× plus lent</translation>
    </message>
    <message>
        <source>&amp;4× slower</source>
        <translation>&amp;4× plus lent</translation>
    </message>
</context>
<context>
    <name>ProgressSheet</name>
    <message>
        <source>Sending</source>
        <translation>Envoi</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>État</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Fichier</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progression</translation>
    </message>
    <message>
        <source>Bytes sent and time left</source>
        <translation>Octets envoyés et temps restant</translation>
    </message>
    <message>
        <source>Percent sent</source>
        <translation>Pourcentage envoyé</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Annuler</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Pace</source>
        <translation>Cadence</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Damaged Files</source>
        <translation>Fichiers endommagés</translation>
    </message>
    <message>
        <source>Some files of this update are damaged. Send the update anyway?</source>
        <translation>Certains fichiers de cette mise à jour sont endommagés. Envoyer quand même la mise à jour ?</translation>
    </message>
    <message>
        <source>

A device given part of an update may not start again.</source>
        <translation>

Un appareil qui ne reçoit qu’une partie d’une mise à jour risque de ne plus démarrer.</translation>
    </message>
    <message>
        <source>Other Senders</source>
        <translation>Autres expéditeurs</translation>
    </message>
    <message>
        <source>Other programs send to this device too. Send the update anyway?</source>
        <translation>D’autres programmes envoient aussi à cet appareil. Envoyer la mise à jour quand même ?</translation>
    </message>
    <message>
        <source>Send Anyway</source>
        <translation>Envoyer quand même</translation>
    </message>
    <message>
        <source>%1 of %2 bytes, %3 left</source>
        <translation>%1 octets sur %2, reste %3</translation>
    </message>
</context>
<context>
    <name>Transfer</name>
    <message>
        <source>Sending...</source>
        <translation>Envoi en cours...</translation>
    </message>
    <message>
        <source>Complete Update</source>
        <translation>Mise à jour terminée</translation>
    </message>
    <message>
        <source>Update Incomplete</source>
        <translation>Mise à jour incomplète</translation>
    </message>
    <message>
        <source>Waiting for the device...</source>
        <translation>En attente de l’appareil...</translation>
    </message>
</context>
<context>
    <name>WindowDefinition</name>
    <message>
        <source>About Morvex</source>
        <translation>À propos de Morvex</translation>
    </message>
    <message>
        <source>Morvex %1</source>
        <translation>Morvex %1</translation>
    </message>
    <message>
        <source>Sends the System Exclusive messages of an update folder to a MIDI device.

Licence: MIT. Copyright (c) 2026 the Morvex authors.

MIDI service: %1</source>
        <translation>Envoie les messages System Exclusive d’un dossier de mise à jour à un appareil MIDI.

Licence : MIT. Copyright (c) 2026 les auteurs de Morvex.

Service MIDI : %1</translation>
    </message>
</context>
<context>
    <name>_Controller</name>
    <message>
        <source>%1× slower than the files say</source>
        <translation>%1× plus lent que ne le disent les fichiers</translation>
    </message>
</context>
</TS>

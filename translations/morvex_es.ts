<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>DeviceChoice</name>
    <message>
        <source>Connecting to the MIDI service...</source>
        <translation>Conectando con el servicio MIDI...</translation>
    </message>
    <message>
        <source>This device cannot answer: Morvex finds no way back from it.</source>
        <translation>Este dispositivo no puede responder: Morvex no encuentra un camino de vuelta desde él.</translation>
    </message>
    <message>
        <source>Identify Device</source>
        <translation>Identificar dispositivo</translation>
    </message>
</context>
<context>
    <name>FileList</name>
    <message>
        <source>Select the Folder of Update Files</source>
        <translation>Elegir la carpeta de los archivos de actualización</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Elegir</translation>
    </message>
    <message>
        <source>Reading the files...</source>
        <translation>Leyendo los archivos...</translation>
    </message>
    <message>
        <source>file</source>
        <translation>archivo</translation>
    </message>
    <message>
        <source>files</source>
        <translation>archivos</translation>
    </message>
    <message>
        <source>message</source>
        <translation>mensaje</translation>
    </message>
    <message>
        <source>messages</source>
        <translation>mensajes</translation>
    </message>
    <message>
        <source>about %1</source>
        <translation>unos %1</translation>
    </message>
    <message>
        <source>%1× slower</source>
        <translation>%1× más lento</translation>
    </message>
</context>
<context>
    <name>FileTableModel</name>
    <message>
        <source>File</source>
        <translation>Archivo</translation>
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
        <translation>&amp;Dispositivo:</translation>
    </message>
    <message>
        <source>MIDI device</source>
        <translation>Dispositivo MIDI</translation>
    </message>
    <message>
        <source>No device</source>
        <translation>Ningún dispositivo</translation>
    </message>
    <message>
        <source>F&amp;older:</source>
        <translation>&amp;Carpeta:</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Carpeta</translation>
    </message>
    <message>
        <source>Select folder</source>
        <translation>Elegir carpeta</translation>
    </message>
    <message>
        <source>F&amp;iles:</source>
        <translation>&amp;Archivos:</translation>
    </message>
    <message>
        <source>Files to send</source>
        <translation>Archivos que enviar</translation>
    </message>
    <message>
        <source>What the update holds</source>
        <translation>Contenido de la actualización</translation>
    </message>
    <message>
        <source>Se&amp;nd</source>
        <translation>&amp;Enviar</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Enviar</translation>
    </message>
    <message>
        <source>&amp;Morvex</source>
        <translation>&amp;Morvex</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>A&amp;rchivo</translation>
    </message>
    <message>
        <source>&amp;About Morvex</source>
        <translation>&amp;Acerca de Morvex</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Salir</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>&amp;Select...</source>
        <translation>&amp;Elegir...</translation>
    </message>
    <message>
        <source>Choose the folder that holds the update files</source>
        <translation>Elegir la carpeta con los archivos de actualización</translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation>Ctrl+O</translation>
    </message>
    <message>
        <source>&amp;Device</source>
        <translation>&amp;Dispositivo</translation>
    </message>
    <message>
        <source>&amp;Identify Device</source>
        <translation>&amp;Identificar dispositivo</translation>
    </message>
    <message>
        <source>Ask the chosen device who it is and which software it runs</source>
        <translation>Preguntar al dispositivo elegido quién es y qué software ejecuta</translation>
    </message>
    <message>
        <source>&amp;Pace</source>
        <translation>&amp;Ritmo</translation>
    </message>
    <message>
        <source>How fast the update goes: slower, for a device or a route that needs it</source>
        <translation>La velocidad de la actualización: más lenta, para un dispositivo o una conexión que lo necesite</translation>
    </message>
    <message>
        <source>&amp;As the files say</source>
        <translation>&amp;Como dicen los archivos</translation>
    </message>
    <message>
        <source>&amp;1.5× slower</source>
        <translation>&amp;1,5× más lento</translation>
    </message>
    <message>
        <source>&amp;2× slower</source>
        <translation>&amp;2× más lento</translation>
    </message>
    <message>
        <source>&amp;4× slower</source>
        <translation>&amp;4× más lento</translation>
    </message>
</context>
<context>
    <name>ProgressSheet</name>
    <message>
        <source>Sending</source>
        <translation>Enviando</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Estado</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Archivo</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progreso</translation>
    </message>
    <message>
        <source>Bytes sent and time left</source>
        <translation>Bytes enviados y tiempo restante</translation>
    </message>
    <message>
        <source>Percent sent</source>
        <translation>Porcentaje enviado</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Cancelar</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Pace</source>
        <translation>Ritmo</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Damaged Files</source>
        <translation>Archivos dañados</translation>
    </message>
    <message>
        <source>Some files of this update are damaged. Send the update anyway?</source>
        <translation>Algunos archivos de esta actualización están dañados. ¿Enviar la actualización de todos modos?</translation>
    </message>
    <message>
        <source>

A device given part of an update may not start again.</source>
        <translation>

Un dispositivo que recibe solo parte de una actualización puede no volver a arrancar.</translation>
    </message>
    <message>
        <source>Other Senders</source>
        <translation>Otros emisores</translation>
    </message>
    <message>
        <source>Other programs send to this device too. Send the update anyway?</source>
        <translation>Otros programas también envían a este dispositivo. ¿Enviar la actualización de todos modos?</translation>
    </message>
    <message>
        <source>Send Anyway</source>
        <translation>Enviar de todos modos</translation>
    </message>
    <message>
        <source>%1 of %2 bytes, %3 left</source>
        <translation>%1 de %2 bytes, quedan %3</translation>
    </message>
</context>
<context>
    <name>Transfer</name>
    <message>
        <source>Sending...</source>
        <translation>Enviando...</translation>
    </message>
    <message>
        <source>Complete Update</source>
        <translation>Actualización completa</translation>
    </message>
    <message>
        <source>Update Incomplete</source>
        <translation>Actualización incompleta</translation>
    </message>
    <message>
        <source>Waiting for the device...</source>
        <translation>Esperando al dispositivo...</translation>
    </message>
</context>
<context>
    <name>WindowDefinition</name>
    <message>
        <source>About Morvex</source>
        <translation>Acerca de Morvex</translation>
    </message>
    <message>
        <source>Morvex %1</source>
        <translation>Morvex %1</translation>
    </message>
    <message>
        <source>Sends the System Exclusive messages of an update folder to a MIDI device.

Licence: MIT. Copyright (c) 2026 the Morvex authors.

MIDI service: %1</source>
        <translation>Envía los mensajes System Exclusive de una carpeta de actualización a un dispositivo MIDI.

Licencia: MIT. Copyright (c) 2026 los autores de Morvex.

Servicio MIDI: %1</translation>
    </message>
</context>
<context>
    <name>_Controller</name>
    <message>
        <source>%1× slower than the files say</source>
        <translation>%1× más lento de lo que dicen los archivos</translation>
    </message>
</context>
</TS>

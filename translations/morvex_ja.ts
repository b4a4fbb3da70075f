<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja">
<context>
    <name>DeviceChoice</name>
    <message>
        <source>Connecting to the MIDI service...</source>
        <translation>MIDI サービスに接続中...</translation>
    </message>
    <message>
        <source>This device cannot answer: Morvex finds no way back from it.</source>
        <translation>このデバイスは応答できません: Morvex はこのデバイスからの戻り経路を見つけられません。</translation>
    </message>
    <message>
        <source>Identify Device</source>
        <translation>デバイスを識別</translation>
    </message>
</context>
<context>
    <name>FileList</name>
    <message>
        <source>Select the Folder of Update Files</source>
        <translation>アップデートファイルのフォルダーを選択</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>選択</translation>
    </message>
    <message>
        <source>Reading the files...</source>
        <translation>ファイルを読み込み中...</translation>
    </message>
    <message>
        <source>file</source>
        <translation>ファイル</translation>
    </message>
    <message>
        <source>files</source>
        <translation>ファイル</translation>
    </message>
    <message>
        <source>message</source>
        <translation>メッセージ</translation>
    </message>
    <message>
        <source>messages</source>
        <translation>メッセージ</translation>
    </message>
    <message>
        <source>about %1</source>
        <translation>約 %1</translation>
    </message>
    <message>
        <source>%1× slower</source>
        <translation>%1 倍遅く</translation>
    </message>
</context>
<context>
    <name>FileTableModel</name>
    <message>
        <source>File</source>
        <translation>ファイル</translation>
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
        <translation>デバイス(&amp;D):</translation>
    </message>
    <message>
        <source>MIDI device</source>
        <translation>MIDI デバイス</translation>
    </message>
    <message>
        <source>No device</source>
        <translation>デバイスなし</translation>
    </message>
    <message>
        <source>F&amp;older:</source>
        <translation>フォルダー(&amp;O):</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>フォルダー</translation>
    </message>
    <message>
        <source>Select folder</source>
        <translation>フォルダーを選択</translation>
    </message>
    <message>
        <source>F&amp;iles:</source>
        <translation>ファイル(&amp;I):</translation>
    </message>
    <message>
        <source>Files to send</source>
        <translation>送信するファイル</translation>
    </message>
    <message>
        <source>What the update holds</source>
        <translation>アップデートの内容</translation>
    </message>
    <message>
        <source>Se&amp;nd</source>
        <translation>送信(&amp;N)</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>送信</translation>
    </message>
    <message>
        <source>&amp;Morvex</source>
        <translation>Morvex(&amp;M)</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;About Morvex</source>
        <translation>Morvex について(&amp;A)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>&amp;Select...</source>
        <translation>選択(&amp;S)...</translation>
    </message>
    <message>
        <source>Choose the folder that holds the update files</source>
        <translation>アップデートファイルのあるフォルダーを選択</translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation>Ctrl+O</translation>
    </message>
    <message>
        <source>&amp;Device</source>
        <translation>デバイス(&amp;D)</translation>
    </message>
    <message>
        <source>&amp;Identify Device</source>
        <translation>デバイスを識別(&amp;I)</translation>
    </message>
    <message>
        <source>Ask the chosen device who it is and which software it runs</source>
        <translation>選択したデバイスに、その種類と実行中のソフトウェアを問い合わせます</translation>
    </message>
    <message>
        <source>&amp;Pace</source>
        <translation>ペース(&amp;P)</translation>
    </message>
    <message>
        <source>How fast the update goes: slower, for a device or a route that needs it</source>
        <translation>アップデートの速さ: デバイスや経路が必要とするときは遅く</translation>
    </message>
    <message>
        <source>&amp;As the files say</source>
        <translation>ファイルのとおり(&amp;A)</translation>
    </message>
    <message>
        <source>&amp;1.5× slower</source>
        <translation>1.5 倍遅く(&amp;1)</translation>
    </message>
    <message>
        <source>&amp;2× slower</source>
        <translation>2 倍遅く(&amp;2)</translation>
    </message>
    <message>
        <source>&amp;4× slower</source>
        <translation>4 倍遅く(&amp;4)</translation>
    </message>
</context>
<context>
    <name>ProgressSheet</name>
    <message>
        <source>Sending</source>
        <translation>送信中</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>File</source>
        <translation>ファイル</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>進行状況</translation>
    </message>
    <message>
        <source>Bytes sent and time left</source>
        <translation>送信済みバイト数と残り時間</translation>
    </message>
    <message>
        <source>Percent sent</source>
        <translation>送信済みの割合</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>キャンセル(&amp;C)</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Pace</source>
        <translation>ペース</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Damaged Files</source>
        <translation>破損したファイル</translation>
    </message>
    <message>
        <source>Some files of this update are damaged. Send the update anyway?</source>
        <translation>このアップデートには破損したファイルがあります。それでも送信しますか?</translation>
    </message>
    <message>
        <source>

A device given part of an update may not start again.</source>
        <translation>

アップデートの一部しか受け取れなかったデバイスは、起動しなくなることがあります。</translation>
    </message>
    <message>
        <source>Other Senders</source>
        <translation>他の送信元</translation>
    </message>
    <message>
        <source>Other programs send to this device too. Send the update anyway?</source>
        <translation>他のプログラムもこのデバイスに送信しています。それでもアップデートを送信しますか?</translation>
    </message>
    <message>
        <source>Send Anyway</source>
        <translation>それでも送信</translation>
    </message>
    <message>
        <source>%1 of %2 bytes, %3 left</source>
        <translation>%1 / %2 バイト、残り %3</translation>
    </message>
</context>
<context>
    <name>Transfer</name>
    <message>
        <source>Sending...</source>
        <translation>送信中...</translation>
    </message>
    <message>
        <source>Complete Update</source>
        <translation>アップデート完了</translation>
    </message>
    <message>
        <source>Update Incomplete</source>
        <translation>アップデート未完了</translation>
    </message>
    <message>
        <source>Waiting for the device...</source>
        <translation>デバイスを待っています...</translation>
    </message>
</context>
<context>
    <name>WindowDefinition</name>
    <message>
        <source>About Morvex</source>
        <translation>Morvex について</translation>
    </message>
    <message>
        <source>Morvex %1</source>
        <translation>Morvex %1</translation>
    </message>
    <message>
        <source>Sends the System Exclusive messages of an update folder to a MIDI device.

Licence: MIT. Copyright (c) 2026 the Morvex authors.

MIDI service: %1</source>
        <translation>アップデートフォルダーの System Exclusive メッセージを MIDI デバイスへ送信します。

ライセンス: MIT。Copyright (c) 2026 the Morvex authors.

MIDI サービス: %1</translation>
    </message>
</context>
<context>
    <name>_Controller</name>
    <message>
        <source>%1× slower than the files say</source>
        <translation>ファイルの指定より %1 倍遅く</translation>
    </message>
</context>
</TS>

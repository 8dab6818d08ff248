<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>TFoldersPage</name>
    <message numerus="yes">
        <source>%n video(s)</source>
        <translation>
            <numerusform>%n video</numerusform>
            <numerusform>%n videos</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Remove %n video(s) from the memory stick, with their thumbnails?</source>
        <translation>
            <numerusform>Remove %n video from the memory stick, with its thumbnail?</numerusform>
            <numerusform>Remove %n videos from the memory stick, with their thumbnails?</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n of the selected files did not finish converting (stopped or cut off before the end):</source>
        <translation>
            <numerusform>%n of the selected files did not finish converting (stopped or cut off before the end):</numerusform>
            <numerusform>%n of the selected files did not finish converting (stopped or cut off before the end):</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Copy them to the PSP all the same? No leaves them out.</source>
        <translation>
            <numerusform>Copy it to the PSP all the same? No leaves it out.</numerusform>
            <numerusform>Copy them to the PSP all the same? No leaves them out.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TSendToPSP</name>
    <message numerus="yes">
        <source>%n video(s) on the memory stick</source>
        <translation>
            <numerusform>%n video on the memory stick</numerusform>
            <numerusform>%n videos on the memory stick</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n did not fit</source>
        <translation>
            <numerusform>, %n did not fit</numerusform>
            <numerusform>, %n did not fit</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TfrmMain</name>
    <message numerus="yes">
        <source>Restore %n file(s) from last time</source>
        <translation>
            <numerusform>Restore %n file from last time</numerusform>
            <numerusform>Restore %n files from last time</numerusform>
        </translation>
    </message>
</context>
</TS>

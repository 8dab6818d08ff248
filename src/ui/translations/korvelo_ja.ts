<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja" sourcelanguage="en">
<context>
    <name>QObject</name>
    <message>
        <source>Incomplete: its conversion was stopped or cut off before the end. Copy to PSP asks before copying it.</source>
        <translation>不完全: 変換が最後まで終わる前に停止または中断されました。「PSP へコピー」はコピーする前に確認します。</translation>
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
        <translation>フォルダー</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>参照</translation>
    </message>
    <message>
        <source>Browse for the %1</source>
        <translation>%1を選択</translation>
    </message>
    <message>
        <source>Device folder</source>
        <translation>デバイスフォルダー</translation>
    </message>
    <message>
        <source>Choose the PSP memory stick with Browse</source>
        <translation>「参照」で PSP のメモリースティックを選択してください</translation>
    </message>
    <message>
        <source>Convert output folder</source>
        <translation>変換の出力フォルダー</translation>
    </message>
    <message>
        <source>On the memory stick</source>
        <translation>メモリースティック上</translation>
    </message>
    <message>
        <source>Remove from stick</source>
        <translation>スティックから削除</translation>
    </message>
    <message>
        <source>Removes the selected videos and their thumbnails from the memory stick</source>
        <translation>選択したビデオとそのサムネイルをメモリースティックから削除します</translation>
    </message>
    <message>
        <source>Eject</source>
        <translation>取り出し</translation>
    </message>
    <message>
        <source>Writes everything out, unmounts the stick and powers it off, so that it can be pulled out safely</source>
        <translation>すべてを書き込み、スティックをアンマウントして電源を切ります。安全に取り外せます</translation>
    </message>
    <message>
        <source>Video files</source>
        <translation>ビデオファイル</translation>
    </message>
    <message>
        <source>Converted files</source>
        <translation>変換済みファイル</translation>
    </message>
    <message>
        <source>Share of the device&apos;s free space the selection needs</source>
        <translation>選択したファイルが必要とするデバイスの空き容量の割合</translation>
    </message>
    <message>
        <source>Space the selection needs</source>
        <translation>選択に必要な容量</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>Copy to PSP</source>
        <translation>PSP へコピー</translation>
    </message>
    <message>
        <source>The settings file cannot be read (%1). The folders chosen now are used until the window closes; the file is left as it is.</source>
        <translation>設定ファイルを読み込めません (%1)。今選んだフォルダーはウィンドウを閉じるまで使われます。ファイルはそのまま残ります。</translation>
    </message>
    <message>
        <source>The PSP finds videos only from the top folder of its memory stick, so %1 is used as the device folder rather than %2.</source>
        <translation>PSP はメモリースティックの最上位フォルダーからしかビデオを探さないため、%2 ではなく %1 をデバイスフォルダーとして使います。</translation>
    </message>
    <message>
        <source>PSP memory stick found at %1: use it</source>
        <translation>%1 に PSP のメモリースティックがあります: 使用する</translation>
    </message>
    <message>
        <source>Missing: the memory stick is not plugged in</source>
        <translation>見つかりません: メモリースティックが接続されていません</translation>
    </message>
    <message>
        <source>No device folder chosen.</source>
        <translation>デバイスフォルダーが選択されていません。</translation>
    </message>
    <message>
        <source>The device folder %1 is missing: plug in the PSP (USB mode) or choose another folder.</source>
        <translation>デバイスフォルダー %1 がありません: PSP を接続する (USB モード) か、別のフォルダーを選んでください。</translation>
    </message>
    <message numerus="yes">
        <source>%n video(s)</source>
        <translation>
            <numerusform>ビデオ %n 本</numerusform>
        </translation>
    </message>
    <message>
        <source>, %1 on the stick; %2 free.</source>
        <translation>、合計 %1、空き %2。</translation>
    </message>
    <message>
        <source>Please select videos on the memory stick.</source>
        <translation>メモリースティック上のビデオを選択してください。</translation>
    </message>
    <message numerus="yes">
        <source>Remove %n video(s) from the memory stick, with their thumbnails?</source>
        <translation>
            <numerusform>%n 本のビデオをサムネイルごとメモリースティックから削除しますか？</numerusform>
        </translation>
    </message>
    <message>
        <source>Could not remove from the memory stick:</source>
        <translation>メモリースティックから削除できませんでした:</translation>
    </message>
    <message>
        <source>Ejecting the stick…</source>
        <translation>スティックを取り出しています…</translation>
    </message>
    <message>
        <source>  (Incomplete)</source>
        <translation>  (不完全)</translation>
    </message>
    <message>
        <source>The memory stick at %1 is not there any more: plug in the PSP (USB mode) again, or choose another device folder.</source>
        <translation>%1 のメモリースティックがなくなりました: PSP をもう一度接続する (USB モード) か、別のデバイスフォルダーを選んでください。</translation>
    </message>
    <message numerus="yes">
        <source>%n of the selected files did not finish converting (stopped or cut off before the end):</source>
        <translation>
            <numerusform>選択したファイルのうち %n 個は変換が終わっていません (途中で停止または中断):</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Copy them to the PSP all the same? No leaves them out.</source>
        <translation>
            <numerusform>それでも PSP へコピーしますか？「いいえ」で除外します。</numerusform>
        </translation>
    </message>
    <message>
        <source>Copying to the PSP…</source>
        <translation>PSP へコピーしています…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Cancelling…</source>
        <translation>キャンセルしています…</translation>
    </message>
    <message>
        <source>Copying %1 to %2 (file %3 of %4)
%5 of %6</source>
        <translation>%1 を %2 へコピーしています (ファイル %3/%4)
%5/%6</translation>
    </message>
    <message>
        <source>Filename</source>
        <translation>ファイル名</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>形式</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>長さ</translation>
    </message>
    <message>
        <source>File Size</source>
        <translation>サイズ</translation>
    </message>
    <message>
        <source>PSP name</source>
        <translation>PSP 名</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>タイトル</translation>
    </message>
    <message>
        <source>Plays on the PSP</source>
        <translation>PSP で再生</translation>
    </message>
    <message>
        <source>The memory stick</source>
        <translation>メモリースティック</translation>
    </message>
    <message>
        <source>Selection: %p% of the free room</source>
        <translation>選択: 空き容量の %p%</translation>
    </message>
    <message>
        <source>Send to PSP</source>
        <translation>PSP へ送る</translation>
    </message>
    <message>
        <source>Converts what is waiting on the Convert page and puts the list&apos;s videos on the memory stick, in order, while they fit</source>
        <translation>「変換」ページで待っているものを変換し、リストのビデオを収まる限り順番にメモリースティックへ入れます</translation>
    </message>
    <message>
        <source>Eject when done</source>
        <translation>終わったら取り出す</translation>
    </message>
    <message>
        <source>Send to PSP ejects the memory stick when it has finished</source>
        <translation>「PSP へ送る」が終わったらメモリースティックを取り出します</translation>
    </message>
    <message>
        <source>Memory stick: </source>
        <translation>メモリースティック: </translation>
    </message>
    <message>
        <source>Choose the PSP memory stick first: the device folder is not set.</source>
        <translation>先に PSP のメモリースティックを選択してください: デバイスフォルダーが設定されていません。</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>可</translation>
    </message>
    <message>
        <source>no: %1</source>
        <translation>不可: %1</translation>
    </message>
</context>
<context>
    <name>THomePicture</name>
    <message>
        <source>Your videos, ready for the PSP</source>
        <translation>お手持ちのビデオを、PSP で。</translation>
    </message>
    <message>
        <source>Add files on the Convert page, press Start,
then copy them to the memory stick on Folders and Files.</source>
        <translation>「変換」ページでファイルを追加して「開始」を押し、
「フォルダーとファイル」でメモリースティックへコピーします。</translation>
    </message>
</context>
<context>
    <name>TPreviewBox</name>
    <message>
        <source>Preview position</source>
        <translation>プレビューの位置</translation>
    </message>
    <message>
        <source>Time of the preview&apos;s picture</source>
        <translation>プレビュー画像の時刻</translation>
    </message>
    <message>
        <source>Preview position: %1</source>
        <translation>プレビューの位置: %1</translation>
    </message>
    <message>
        <source>Ctrl+Left, Ctrl+Right: the previous, the next picture. Shift+Left, Shift+Right: one second back, on.</source>
        <translation>Ctrl+←、Ctrl+→: 前の画像、次の画像。Shift+←、Shift+→: 1 秒戻る、1 秒進む。</translation>
    </message>
    <message>
        <source>Preview picture</source>
        <translation>プレビューの画像</translation>
    </message>
</context>
<context>
    <name>TSendToPSP</name>
    <message>
        <source>Nothing to send: add files on the Convert page first.</source>
        <translation>送るものがありません: 先に「変換」ページでファイルを追加してください。</translation>
    </message>
    <message>
        <source>The batch %1.

Send those that fit at the usual quality?</source>
        <translation>一括変換の内容は %1。

通常の画質で収まるものを送りますか？</translation>
    </message>
    <message>
        <source>Send what fits</source>
        <translation>収まる分を送る</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>The videos do not all fit on the memory stick at the usual quality. Convert them at %1?

Keeping the quality sends those that fit, in the list&apos;s order.</source>
        <translation>通常の画質ではすべてのビデオがメモリースティックに収まりません。%1 で変換しますか？

画質を保つと、収まるものをリストの順に送ります。</translation>
    </message>
    <message>
        <source>Make them fit</source>
        <translation>収まるようにする</translation>
    </message>
    <message>
        <source>Keep the quality</source>
        <translation>画質を保つ</translation>
    </message>
    <message>
        <source>Send to PSP stopped with the conversion: nothing was copied to the memory stick.</source>
        <translation>「PSP へ送る」は変換とともに停止しました: メモリースティックには何もコピーされていません。</translation>
    </message>
    <message numerus="yes">
        <source>%n video(s) on the memory stick</source>
        <translation>
            <numerusform>メモリースティックに %n 本のビデオ</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n did not fit</source>
        <translation>
            <numerusform>、%n 本は収まりませんでした</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TfrmConvertItem</name>
    <message>
        <source>Preview position</source>
        <translation>プレビューの位置</translation>
    </message>
    <message>
        <source>Input</source>
        <translation>入力</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>出力</translation>
    </message>
    <message>
        <source>Stopped at %1%</source>
        <translation>%1% で停止</translation>
    </message>
    <message>
        <source>Done, no thumbnail</source>
        <translation>完了 (サムネイルなし)</translation>
    </message>
    <message>
        <source>Expected size of the converted file</source>
        <translation>変換後のファイルの予想サイズ</translation>
    </message>
    <message>
        <source>Show log…</source>
        <translation>ログを表示…</translation>
    </message>
    <message>
        <source>Open containing folder</source>
        <translation>保存先のフォルダーを開く</translation>
    </message>
    <message>
        <source>%1 could not be opened: the desktop has no program to show folders with.</source>
        <translation>%1 を開けませんでした: デスクトップにフォルダーを表示するプログラムがありません。</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>再生</translation>
    </message>
    <message>
        <source>%1 could not be played: the desktop has no player for it.</source>
        <translation>%1 を再生できませんでした: デスクトップに対応するプレーヤーがありません。</translation>
    </message>
    <message>
        <source>about %1</source>
        <translation>約 %1</translation>
    </message>
    <message>
        <source>Paused at %p%</source>
        <translation>%p% で一時停止</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>失敗: %1</translation>
    </message>
    <message>
        <source>The thumbnail of %1 was not written: %2</source>
        <translation>%1 のサムネイルは書き込まれませんでした: %2</translation>
    </message>
    <message>
        <source>Input ended at %1%</source>
        <translation>入力は %1% で終了</translation>
    </message>
    <message>
        <source>The input ended at %1 of the %2 it states: it may be cut short or damaged. What it held is converted.</source>
        <translation>入力は記録上の長さ %2 のうち %1 で終わりました: 途中で切れているか壊れている可能性があります。含まれていた部分を変換します。</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>失敗</translation>
    </message>
    <message>
        <source>Stopped at %p%</source>
        <translation>%p% で停止</translation>
    </message>
    <message>
        <source>Log of %1</source>
        <translation>%1 のログ</translation>
    </message>
    <message>
        <source>Nothing has been said about this file yet.</source>
        <translation>このファイルについてのメッセージはまだありません。</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>コピー</translation>
    </message>
    <message>
        <source>Sound</source>
        <translation>音声</translation>
    </message>
    <message>
        <source>Subtitles</source>
        <translation>字幕</translation>
    </message>
    <message>
        <source>None</source>
        <translation>なし</translation>
    </message>
    <message>
        <source>Subtitle file...</source>
        <translation>字幕ファイル…</translation>
    </message>
    <message>
        <source>Subtitles to burn into the picture</source>
        <translation>映像に焼き込む字幕</translation>
    </message>
    <message>
        <source>Subtitles (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)</source>
        <translation>字幕 (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)</translation>
    </message>
    <message>
        <source>Set start (%1)</source>
        <translation>開始位置に設定 (%1)</translation>
    </message>
    <message>
        <source>Set end (%1)</source>
        <translation>終了位置に設定 (%1)</translation>
    </message>
    <message>
        <source>Whole file</source>
        <translation>ファイル全体</translation>
    </message>
    <message>
        <source>%1 s still</source>
        <translation>静止画 %1 秒</translation>
    </message>
    <message>
        <source>Sound %1</source>
        <translation>音声 %1</translation>
    </message>
    <message>
        <source>Subtitles %1</source>
        <translation>字幕 %1</translation>
    </message>
    <message>
        <source>%1 (forced)</source>
        <translation>%1 (強制)</translation>
    </message>
    <message>
        <source>
(right-click the panel to choose)</source>
        <translation>
(パネルを右クリックして選択)</translation>
    </message>
    <message>
        <source>Space selects the panel; the Menu key opens its menu; [ and ] set the start and end of the part to convert at the preview&apos;s picture.</source>
        <translation>スペースキーでパネルを選択、メニューキーでメニューを開きます。[ と ] でプレビュー画像の位置を変換範囲の開始・終了に設定します。</translation>
    </message>
    <message>
        <source>Output file name</source>
        <translation>出力ファイル名</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>タイトル</translation>
    </message>
    <message>
        <source>Profile</source>
        <translation>プロファイル</translation>
    </message>
    <message>
        <source>Progress of %1</source>
        <translation>%1 の進行状況</translation>
    </message>
    <message>
        <source>Filename:</source>
        <translation>ファイル:</translation>
    </message>
    <message>
        <source>Format:</source>
        <translation>形式:</translation>
    </message>
    <message>
        <source>Duration:</source>
        <translation>長さ:</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>タイトル:</translation>
    </message>
    <message>
        <source>end</source>
        <translation>終わり</translation>
    </message>
</context>
<context>
    <name>TfrmConvertList</name>
    <message>
        <source>%1 files could not be added:</source>
        <translation>%1 個のファイルを追加できませんでした:</translation>
    </message>
    <message>
        <source>Click the panels to remove (or press Space on one), then Remove.</source>
        <translation>削除するパネルをクリック (またはパネル上でスペースキー) してから「削除」を押してください。</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>一時停止中</translation>
    </message>
    <message>
        <source>Conversion stopped</source>
        <translation>変換を停止しました</translation>
    </message>
    <message>
        <source>Stopping…</source>
        <translation>停止しています…</translation>
    </message>
    <message>
        <source>Nothing is converting</source>
        <translation>変換中のものはありません</translation>
    </message>
    <message>
        <source>Nothing is paused</source>
        <translation>一時停止中のものはありません</translation>
    </message>
    <message>
        <source>Converting %1</source>
        <translation>%1 を変換しています</translation>
    </message>
    <message>
        <source>Nothing to start: add files first</source>
        <translation>開始するものがありません: まずファイルを追加してください</translation>
    </message>
    <message>
        <source>Paused: Resume goes on, Stop ends the batch</source>
        <translation>一時停止中: 「再開」で続行、「停止」で一括変換を終了</translation>
    </message>
    <message>
        <source>Converting %1 (%2 of %3)</source>
        <translation>%1 を変換しています (%2/%3)</translation>
    </message>
    <message>
        <source>Conversion failed: %1</source>
        <translation>変換に失敗しました: %1</translation>
    </message>
    <message>
        <source>All conversions finished</source>
        <translation>すべての変換が完了しました</translation>
    </message>
    <message>
        <source>Add video, audio or picture files with “Add”, or drop them here.</source>
        <translation>「追加」でビデオ・音声・画像ファイルを追加するか、ここにドロップしてください。</translation>
    </message>
</context>
<context>
    <name>TfrmMain</name>
    <message>
        <source>Home</source>
        <translation>ホーム</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>変換</translation>
    </message>
    <message>
        <source>Folders and Files</source>
        <translation>フォルダーとファイル</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>Expected size</source>
        <translation>予想サイズ</translation>
    </message>
    <message numerus="yes">
        <source>Restore %n file(s) from last time</source>
        <translation>
            <numerusform>前回の %n 個のファイルを復元</numerusform>
        </translation>
    </message>
    <message>
        <source>Pages</source>
        <translation>ページ</translation>
    </message>
    <message>
        <source>Commands</source>
        <translation>コマンド</translation>
    </message>
    <message>
        <source>Conversion list</source>
        <translation>変換リスト</translation>
    </message>
    <message>
        <source>The files to convert, one panel each: arrow keys move between them, Space selects, the Menu key opens a panel&apos;s menu.</source>
        <translation>変換するファイル (1 ファイルに 1 パネル): 矢印キーで移動、スペースキーで選択、メニューキーでパネルのメニューを開きます。</translation>
    </message>
    <message>
        <source>Overall progress</source>
        <translation>全体の進行状況</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;Convert</source>
        <translation>変換(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Go</source>
        <translation>移動(&amp;G)</translation>
    </message>
    <message>
        <source>&amp;Home</source>
        <translation>ホーム(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;Folders and Files</source>
        <translation>フォルダーとファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About Korvelo Converter</source>
        <translation>Korvelo Converter について(&amp;A)</translation>
    </message>
    <message>
        <source>About Korvelo Converter</source>
        <translation>Korvelo Converter について</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Korvelo Converter&lt;/h3&gt;&lt;p&gt;Version %1&lt;/p&gt;&lt;p&gt;Turns video, audio and picture files into MP4 files that the PSP plays, and copies them onto its memory stick.&lt;/p&gt;&lt;p&gt;%2&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Korvelo Converter&lt;/h3&gt;&lt;p&gt;バージョン %1&lt;/p&gt;&lt;p&gt;ビデオ・音声・画像ファイルを PSP で再生できる MP4 ファイルに変換し、メモリースティックへコピーします。&lt;/p&gt;&lt;p&gt;%2&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Thanks to Developer Teams for: FFmpeg&apos;s libraries and AAC encoder, x264, libass, Qt, libjpeg-turbo</source>
        <translation>謝辞: FFmpeg のライブラリと AAC エンコーダー、x264、libass、Qt、libjpeg-turbo</translation>
    </message>
    <message>
        <source>About</source>
        <translation>バージョン情報</translation>
    </message>
    <message>
        <source>Korvelo Converter %1</source>
        <translation>Korvelo Converter %1</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>追加</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>削除</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>開始</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Nothing to stop</source>
        <translation>停止するものはありません</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>一時停止</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>再開</translation>
    </message>
    <message>
        <source>AVC Folder</source>
        <translation>AVC フォルダー</translation>
    </message>
    <message>
        <source>Open AVC output folder</source>
        <translation>AVC 出力フォルダーを開く</translation>
    </message>
    <message>
        <source>MPEG4 Folder</source>
        <translation>MPEG4 フォルダー</translation>
    </message>
    <message>
        <source>Open MPEG4 output folder</source>
        <translation>MPEG4 出力フォルダーを開く</translation>
    </message>
    <message>
        <source>Device Folder</source>
        <translation>デバイスフォルダー</translation>
    </message>
    <message>
        <source>Open Device Folder</source>
        <translation>デバイスフォルダーを開く</translation>
    </message>
    <message>
        <source>Add files</source>
        <translation>ファイルを追加</translation>
    </message>
    <message>
        <source>%1 could not be opened: the desktop has no program to show folders with.</source>
        <translation>%1 を開けませんでした: デスクトップにフォルダーを表示するプログラムがありません。</translation>
    </message>
    <message>
        <source>A conversion is running. Stop it and quit?</source>
        <translation>変換の実行中です。停止して終了しますか？</translation>
    </message>
    <message>
        <source>Stop and quit</source>
        <translation>停止して終了</translation>
    </message>
    <message>
        <source>Keep converting</source>
        <translation>変換を続ける</translation>
    </message>
    <message>
        <source>Stopping the conversion before closing…</source>
        <translation>閉じる前に変換を停止しています…</translation>
    </message>
    <message>
        <source>The files still to convert could not be kept for the next start (%1).</source>
        <translation>未変換のファイルを次回の起動用に保存できませんでした (%1)。</translation>
    </message>
    <message>
        <source>The folder settings could not be saved (%1): the next start will not know the folders chosen now.</source>
        <translation>フォルダーの設定を保存できませんでした (%1): 次回の起動時には今選んだフォルダーが使われません。</translation>
    </message>
    <message>
        <source>Send to PSP</source>
        <translation>PSP へ送る</translation>
    </message>
    <message>
        <source>Convert what is waiting and put the videos on the memory stick</source>
        <translation>待っているものを変換し、ビデオをメモリースティックへ入れます</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es" sourcelanguage="en">
<context>
    <name>QObject</name>
    <message>
        <source>Incomplete: its conversion was stopped or cut off before the end. Copy to PSP asks before copying it.</source>
        <translation>Incompleto: su conversión se detuvo o se cortó antes del final. Copiar a la PSP pregunta antes de copiarlo.</translation>
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
        <translation>Carpetas</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Examinar</translation>
    </message>
    <message>
        <source>Browse for the %1</source>
        <translation>Elegir la %1</translation>
    </message>
    <message>
        <source>Device folder</source>
        <translation>Carpeta del dispositivo</translation>
    </message>
    <message>
        <source>Choose the PSP memory stick with Browse</source>
        <translation>Elija la Memory Stick de la PSP con Examinar</translation>
    </message>
    <message>
        <source>Convert output folder</source>
        <translation>Carpeta de salida de la conversión</translation>
    </message>
    <message>
        <source>On the memory stick</source>
        <translation>En la Memory Stick</translation>
    </message>
    <message>
        <source>Remove from stick</source>
        <translation>Quitar de la tarjeta</translation>
    </message>
    <message>
        <source>Removes the selected videos and their thumbnails from the memory stick</source>
        <translation>Quita de la Memory Stick los vídeos seleccionados y sus miniaturas</translation>
    </message>
    <message>
        <source>Eject</source>
        <translation>Expulsar</translation>
    </message>
    <message>
        <source>Writes everything out, unmounts the stick and powers it off, so that it can be pulled out safely</source>
        <translation>Escribe todo, desmonta la tarjeta y la apaga, para que se pueda quitar con seguridad</translation>
    </message>
    <message>
        <source>Video files</source>
        <translation>Archivos de vídeo</translation>
    </message>
    <message>
        <source>Converted files</source>
        <translation>Archivos convertidos</translation>
    </message>
    <message>
        <source>Share of the device&apos;s free space the selection needs</source>
        <translation>Parte del espacio libre del dispositivo que necesita la selección</translation>
    </message>
    <message>
        <source>Space the selection needs</source>
        <translation>Espacio que necesita la selección</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Actualizar</translation>
    </message>
    <message>
        <source>Copy to PSP</source>
        <translation>Copiar a la PSP</translation>
    </message>
    <message>
        <source>The settings file cannot be read (%1). The folders chosen now are used until the window closes; the file is left as it is.</source>
        <translation>No se puede leer el archivo de ajustes (%1). Las carpetas elegidas ahora se usan hasta que se cierre la ventana; el archivo se deja como está.</translation>
    </message>
    <message>
        <source>The PSP finds videos only from the top folder of its memory stick, so %1 is used as the device folder rather than %2.</source>
        <translation>La PSP solo encuentra los vídeos desde la carpeta raíz de su Memory Stick, así que se usa %1 como carpeta del dispositivo en lugar de %2.</translation>
    </message>
    <message>
        <source>PSP memory stick found at %1: use it</source>
        <translation>Memory Stick de PSP encontrada en %1: usarla</translation>
    </message>
    <message>
        <source>Missing: the memory stick is not plugged in</source>
        <translation>Falta: la Memory Stick no está conectada</translation>
    </message>
    <message>
        <source>No device folder chosen.</source>
        <translation>No se ha elegido carpeta del dispositivo.</translation>
    </message>
    <message>
        <source>The device folder %1 is missing: plug in the PSP (USB mode) or choose another folder.</source>
        <translation>Falta la carpeta del dispositivo %1: conecte la PSP (modo USB) o elija otra carpeta.</translation>
    </message>
    <message numerus="yes">
        <source>%n video(s)</source>
        <translation>
            <numerusform>%n vídeo</numerusform>
            <numerusform>%n vídeos</numerusform>
        </translation>
    </message>
    <message>
        <source>, %1 on the stick; %2 free.</source>
        <translation>, %1 ocupados; %2 libres.</translation>
    </message>
    <message>
        <source>Please select videos on the memory stick.</source>
        <translation>Seleccione vídeos en la Memory Stick.</translation>
    </message>
    <message numerus="yes">
        <source>Remove %n video(s) from the memory stick, with their thumbnails?</source>
        <translation>
            <numerusform>¿Quitar %n vídeo de la Memory Stick, con su miniatura?</numerusform>
            <numerusform>¿Quitar %n vídeos de la Memory Stick, con sus miniaturas?</numerusform>
        </translation>
    </message>
    <message>
        <source>Could not remove from the memory stick:</source>
        <translation>No se pudo quitar de la Memory Stick:</translation>
    </message>
    <message>
        <source>Ejecting the stick…</source>
        <translation>Expulsando la tarjeta…</translation>
    </message>
    <message>
        <source>  (Incomplete)</source>
        <translation>  (Incompleto)</translation>
    </message>
    <message>
        <source>The memory stick at %1 is not there any more: plug in the PSP (USB mode) again, or choose another device folder.</source>
        <translation>La Memory Stick de %1 ya no está: vuelva a conectar la PSP (modo USB) o elija otra carpeta del dispositivo.</translation>
    </message>
    <message numerus="yes">
        <source>%n of the selected files did not finish converting (stopped or cut off before the end):</source>
        <translation>
            <numerusform>%n de los archivos seleccionados no terminó de convertirse (se detuvo o se cortó antes del final):</numerusform>
            <numerusform>%n de los archivos seleccionados no terminaron de convertirse (se detuvieron o se cortaron antes del final):</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Copy them to the PSP all the same? No leaves them out.</source>
        <translation>
            <numerusform>¿Copiarlo a la PSP de todos modos? «No» lo deja fuera.</numerusform>
            <numerusform>¿Copiarlos a la PSP de todos modos? «No» los deja fuera.</numerusform>
        </translation>
    </message>
    <message>
        <source>Copying to the PSP…</source>
        <translation>Copiando a la PSP…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Cancelling…</source>
        <translation>Cancelando…</translation>
    </message>
    <message>
        <source>Copying %1 to %2 (file %3 of %4)
%5 of %6</source>
        <translation>Copiando %1 a %2 (archivo %3 de %4)
%5 de %6</translation>
    </message>
    <message>
        <source>Filename</source>
        <translation>Nombre de archivo</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Formato</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Duración</translation>
    </message>
    <message>
        <source>File Size</source>
        <translation>Tamaño</translation>
    </message>
    <message>
        <source>PSP name</source>
        <translation>Nombre PSP</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Título</translation>
    </message>
    <message>
        <source>Plays on the PSP</source>
        <translation>Se reproduce en la PSP</translation>
    </message>
    <message>
        <source>The memory stick</source>
        <translation>La Memory Stick</translation>
    </message>
    <message>
        <source>Selection: %p% of the free room</source>
        <translation>Selección: %p% del espacio libre</translation>
    </message>
    <message>
        <source>Send to PSP</source>
        <translation>Enviar a la PSP</translation>
    </message>
    <message>
        <source>Converts what is waiting on the Convert page and puts the list&apos;s videos on the memory stick, in order, while they fit</source>
        <translation>Convierte lo que espera en la página Convertir y pone los vídeos de la lista en la Memory Stick, en orden, mientras quepan</translation>
    </message>
    <message>
        <source>Eject when done</source>
        <translation>Expulsar al terminar</translation>
    </message>
    <message>
        <source>Send to PSP ejects the memory stick when it has finished</source>
        <translation>Enviar a la PSP expulsa la Memory Stick al terminar</translation>
    </message>
    <message>
        <source>Memory stick: </source>
        <translation>Memory Stick: </translation>
    </message>
    <message>
        <source>Choose the PSP memory stick first: the device folder is not set.</source>
        <translation>Elija primero la Memory Stick de la PSP: la carpeta del dispositivo no está definida.</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>sí</translation>
    </message>
    <message>
        <source>no: %1</source>
        <translation>no: %1</translation>
    </message>
</context>
<context>
    <name>THomePicture</name>
    <message>
        <source>Your videos, ready for the PSP</source>
        <translation>Sus vídeos, listos para la PSP</translation>
    </message>
    <message>
        <source>Add files on the Convert page, press Start,
then copy them to the memory stick on Folders and Files.</source>
        <translation>Añada archivos en la página Convertir, pulse Iniciar
y cópielos a la Memory Stick en Carpetas y archivos.</translation>
    </message>
</context>
<context>
    <name>TPreviewBox</name>
    <message>
        <source>Preview position</source>
        <translation>Posición de la vista previa</translation>
    </message>
    <message>
        <source>Time of the preview&apos;s picture</source>
        <translation>Momento de la imagen de la vista previa</translation>
    </message>
    <message>
        <source>Preview position: %1</source>
        <translation>Posición de la vista previa: %1</translation>
    </message>
    <message>
        <source>Ctrl+Left, Ctrl+Right: the previous, the next picture. Shift+Left, Shift+Right: one second back, on.</source>
        <translation>Ctrl+Izquierda, Ctrl+Derecha: la imagen anterior, la siguiente. Mayús+Izquierda, Mayús+Derecha: un segundo atrás, adelante.</translation>
    </message>
    <message>
        <source>Preview picture</source>
        <translation>Imagen de la vista previa</translation>
    </message>
</context>
<context>
    <name>TSendToPSP</name>
    <message>
        <source>Nothing to send: add files on the Convert page first.</source>
        <translation>Nada que enviar: añada primero archivos en la página Convertir.</translation>
    </message>
    <message>
        <source>The batch %1.

Send those that fit at the usual quality?</source>
        <translation>El lote %1.

¿Enviar los que caben con la calidad habitual?</translation>
    </message>
    <message>
        <source>Send what fits</source>
        <translation>Enviar lo que cabe</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>The videos do not all fit on the memory stick at the usual quality. Convert them at %1?

Keeping the quality sends those that fit, in the list&apos;s order.</source>
        <translation>Los vídeos no caben todos en la Memory Stick con la calidad habitual. ¿Convertirlos a %1?

Mantener la calidad envía los que caben, en el orden de la lista.</translation>
    </message>
    <message>
        <source>Make them fit</source>
        <translation>Hacer que quepan</translation>
    </message>
    <message>
        <source>Keep the quality</source>
        <translation>Mantener la calidad</translation>
    </message>
    <message>
        <source>Send to PSP stopped with the conversion: nothing was copied to the memory stick.</source>
        <translation>Enviar a la PSP se detuvo con la conversión: no se copió nada a la Memory Stick.</translation>
    </message>
    <message numerus="yes">
        <source>%n video(s) on the memory stick</source>
        <translation>
            <numerusform>%n vídeo en la Memory Stick</numerusform>
            <numerusform>%n vídeos en la Memory Stick</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n did not fit</source>
        <translation>
            <numerusform>, %n no cupo</numerusform>
            <numerusform>, %n no cupieron</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TfrmConvertItem</name>
    <message>
        <source>Preview position</source>
        <translation>Posición de la vista previa</translation>
    </message>
    <message>
        <source>Input</source>
        <translation>Entrada</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>Salida</translation>
    </message>
    <message>
        <source>Stopped at %1%</source>
        <translation>Detenido al %1 %</translation>
    </message>
    <message>
        <source>Done, no thumbnail</source>
        <translation>Hecho, sin miniatura</translation>
    </message>
    <message>
        <source>Expected size of the converted file</source>
        <translation>Tamaño previsto del archivo convertido</translation>
    </message>
    <message>
        <source>Show log…</source>
        <translation>Mostrar el registro…</translation>
    </message>
    <message>
        <source>Open containing folder</source>
        <translation>Abrir la carpeta contenedora</translation>
    </message>
    <message>
        <source>%1 could not be opened: the desktop has no program to show folders with.</source>
        <translation>No se pudo abrir %1: el escritorio no tiene ningún programa para mostrar carpetas.</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Reproducir</translation>
    </message>
    <message>
        <source>%1 could not be played: the desktop has no player for it.</source>
        <translation>No se pudo reproducir %1: el escritorio no tiene ningún reproductor para él.</translation>
    </message>
    <message>
        <source>about %1</source>
        <translation>unos %1</translation>
    </message>
    <message>
        <source>Paused at %p%</source>
        <translation>En pausa al %p %</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Error: %1</translation>
    </message>
    <message>
        <source>The thumbnail of %1 was not written: %2</source>
        <translation>No se escribió la miniatura de %1: %2</translation>
    </message>
    <message>
        <source>Input ended at %1%</source>
        <translation>La entrada terminó al %1 %</translation>
    </message>
    <message>
        <source>The input ended at %1 of the %2 it states: it may be cut short or damaged. What it held is converted.</source>
        <translation>La entrada terminó en %1 de los %2 que indica: puede estar cortada o dañada. Se convierte lo que contenía.</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Stopped at %p%</source>
        <translation>Detenido al %p %</translation>
    </message>
    <message>
        <source>Log of %1</source>
        <translation>Registro de %1</translation>
    </message>
    <message>
        <source>Nothing has been said about this file yet.</source>
        <translation>Todavía no se ha informado nada sobre este archivo.</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Copiar</translation>
    </message>
    <message>
        <source>Sound</source>
        <translation>Sonido</translation>
    </message>
    <message>
        <source>Subtitles</source>
        <translation>Subtítulos</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Ninguno</translation>
    </message>
    <message>
        <source>Subtitle file...</source>
        <translation>Archivo de subtítulos…</translation>
    </message>
    <message>
        <source>Subtitles to burn into the picture</source>
        <translation>Subtítulos que se incrustan en la imagen</translation>
    </message>
    <message>
        <source>Subtitles (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)</source>
        <translation>Subtítulos (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)</translation>
    </message>
    <message>
        <source>Set start (%1)</source>
        <translation>Fijar el inicio (%1)</translation>
    </message>
    <message>
        <source>Set end (%1)</source>
        <translation>Fijar el final (%1)</translation>
    </message>
    <message>
        <source>Whole file</source>
        <translation>Archivo completo</translation>
    </message>
    <message>
        <source>%1 s still</source>
        <translation>imagen fija de %1 s</translation>
    </message>
    <message>
        <source>Sound %1</source>
        <translation>Sonido %1</translation>
    </message>
    <message>
        <source>Subtitles %1</source>
        <translation>Subtítulos %1</translation>
    </message>
    <message>
        <source>%1 (forced)</source>
        <translation>%1 (forzados)</translation>
    </message>
    <message>
        <source>
(right-click the panel to choose)</source>
        <translation>
(haga clic derecho en el panel para elegir)</translation>
    </message>
    <message>
        <source>Space selects the panel; the Menu key opens its menu; [ and ] set the start and end of the part to convert at the preview&apos;s picture.</source>
        <translation>Espacio selecciona el panel; la tecla Menú abre su menú; [ y ] fijan el inicio y el final de la parte a convertir en la imagen de la vista previa.</translation>
    </message>
    <message>
        <source>Output file name</source>
        <translation>Nombre del archivo de salida</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Título</translation>
    </message>
    <message>
        <source>Profile</source>
        <translation>Perfil</translation>
    </message>
    <message>
        <source>Progress of %1</source>
        <translation>Progreso de %1</translation>
    </message>
    <message>
        <source>Filename:</source>
        <translation>Archivo:</translation>
    </message>
    <message>
        <source>Format:</source>
        <translation>Formato:</translation>
    </message>
    <message>
        <source>Duration:</source>
        <translation>Duración:</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>Título:</translation>
    </message>
    <message>
        <source>end</source>
        <translation>final</translation>
    </message>
</context>
<context>
    <name>TfrmConvertList</name>
    <message>
        <source>%1 files could not be added:</source>
        <translation>No se pudieron añadir %1 archivos:</translation>
    </message>
    <message>
        <source>Click the panels to remove (or press Space on one), then Remove.</source>
        <translation>Haga clic en los paneles que quiera quitar (o pulse Espacio sobre uno) y luego en Quitar.</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>En pausa</translation>
    </message>
    <message>
        <source>Conversion stopped</source>
        <translation>Conversión detenida</translation>
    </message>
    <message>
        <source>Stopping…</source>
        <translation>Deteniendo…</translation>
    </message>
    <message>
        <source>Nothing is converting</source>
        <translation>No se está convirtiendo nada</translation>
    </message>
    <message>
        <source>Nothing is paused</source>
        <translation>No hay nada en pausa</translation>
    </message>
    <message>
        <source>Converting %1</source>
        <translation>Convirtiendo %1</translation>
    </message>
    <message>
        <source>Nothing to start: add files first</source>
        <translation>Nada que iniciar: añada archivos primero</translation>
    </message>
    <message>
        <source>Paused: Resume goes on, Stop ends the batch</source>
        <translation>En pausa: Reanudar continúa, Detener termina el lote</translation>
    </message>
    <message>
        <source>Converting %1 (%2 of %3)</source>
        <translation>Convirtiendo %1 (%2 de %3)</translation>
    </message>
    <message>
        <source>Conversion failed: %1</source>
        <translation>Error en la conversión: %1</translation>
    </message>
    <message>
        <source>All conversions finished</source>
        <translation>Todas las conversiones han terminado</translation>
    </message>
    <message>
        <source>Add video, audio or picture files with “Add”, or drop them here.</source>
        <translation>Añada archivos de vídeo, audio o imagen con «Añadir», o suéltelos aquí.</translation>
    </message>
</context>
<context>
    <name>TfrmMain</name>
    <message>
        <source>Home</source>
        <translation>Inicio</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Convertir</translation>
    </message>
    <message>
        <source>Folders and Files</source>
        <translation>Carpetas y archivos</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Estado</translation>
    </message>
    <message>
        <source>Expected size</source>
        <translation>Tamaño previsto</translation>
    </message>
    <message numerus="yes">
        <source>Restore %n file(s) from last time</source>
        <translation>
            <numerusform>Restaurar %n archivo de la última vez</numerusform>
            <numerusform>Restaurar %n archivos de la última vez</numerusform>
        </translation>
    </message>
    <message>
        <source>Pages</source>
        <translation>Páginas</translation>
    </message>
    <message>
        <source>Commands</source>
        <translation>Órdenes</translation>
    </message>
    <message>
        <source>Conversion list</source>
        <translation>Lista de conversión</translation>
    </message>
    <message>
        <source>The files to convert, one panel each: arrow keys move between them, Space selects, the Menu key opens a panel&apos;s menu.</source>
        <translation>Los archivos que se van a convertir, un panel cada uno: las flechas pasan de uno a otro, Espacio selecciona y la tecla Menú abre el menú de un panel.</translation>
    </message>
    <message>
        <source>Overall progress</source>
        <translation>Progreso total</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Archivo</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Salir</translation>
    </message>
    <message>
        <source>&amp;Convert</source>
        <translation>&amp;Convertir</translation>
    </message>
    <message>
        <source>&amp;Go</source>
        <translation>&amp;Ir a</translation>
    </message>
    <message>
        <source>&amp;Home</source>
        <translation>&amp;Inicio</translation>
    </message>
    <message>
        <source>&amp;Folders and Files</source>
        <translation>Ca&amp;rpetas y archivos</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>A&amp;yuda</translation>
    </message>
    <message>
        <source>&amp;About Korvelo Converter</source>
        <translation>&amp;Acerca de Korvelo Converter</translation>
    </message>
    <message>
        <source>About Korvelo Converter</source>
        <translation>Acerca de Korvelo Converter</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Korvelo Converter&lt;/h3&gt;&lt;p&gt;Version %1&lt;/p&gt;&lt;p&gt;Turns video, audio and picture files into MP4 files that the PSP plays, and copies them onto its memory stick.&lt;/p&gt;&lt;p&gt;%2&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Korvelo Converter&lt;/h3&gt;&lt;p&gt;Versión %1&lt;/p&gt;&lt;p&gt;Convierte archivos de vídeo, audio e imagen en archivos MP4 que la PSP reproduce, y los copia a su Memory Stick.&lt;/p&gt;&lt;p&gt;%2&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Thanks to Developer Teams for: FFmpeg&apos;s libraries and AAC encoder, x264, libass, Qt, libjpeg-turbo</source>
        <translation>Gracias a los equipos que desarrollan: las bibliotecas y el codificador AAC de FFmpeg, x264, libass, Qt, libjpeg-turbo</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Acerca de</translation>
    </message>
    <message>
        <source>Korvelo Converter %1</source>
        <translation>Korvelo Converter %1</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Añadir</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Quitar</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Vaciar</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Iniciar</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Detener</translation>
    </message>
    <message>
        <source>Nothing to stop</source>
        <translation>Nada que detener</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pausa</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Reanudar</translation>
    </message>
    <message>
        <source>AVC Folder</source>
        <translation>Carpeta AVC</translation>
    </message>
    <message>
        <source>Open AVC output folder</source>
        <translation>Abrir la carpeta de salida AVC</translation>
    </message>
    <message>
        <source>MPEG4 Folder</source>
        <translation>Carpeta MPEG4</translation>
    </message>
    <message>
        <source>Open MPEG4 output folder</source>
        <translation>Abrir la carpeta de salida MPEG4</translation>
    </message>
    <message>
        <source>Device Folder</source>
        <translation>Carpeta del dispositivo</translation>
    </message>
    <message>
        <source>Open Device Folder</source>
        <translation>Abrir la carpeta del dispositivo</translation>
    </message>
    <message>
        <source>Add files</source>
        <translation>Añadir archivos</translation>
    </message>
    <message>
        <source>%1 could not be opened: the desktop has no program to show folders with.</source>
        <translation>No se pudo abrir %1: el escritorio no tiene ningún programa para mostrar carpetas.</translation>
    </message>
    <message>
        <source>A conversion is running. Stop it and quit?</source>
        <translation>Hay una conversión en curso. ¿Detenerla y salir?</translation>
    </message>
    <message>
        <source>Stop and quit</source>
        <translation>Detener y salir</translation>
    </message>
    <message>
        <source>Keep converting</source>
        <translation>Seguir convirtiendo</translation>
    </message>
    <message>
        <source>Stopping the conversion before closing…</source>
        <translation>Deteniendo la conversión antes de cerrar…</translation>
    </message>
    <message>
        <source>The files still to convert could not be kept for the next start (%1).</source>
        <translation>No se pudieron guardar para el próximo inicio los archivos pendientes de convertir (%1).</translation>
    </message>
    <message>
        <source>The folder settings could not be saved (%1): the next start will not know the folders chosen now.</source>
        <translation>No se pudieron guardar los ajustes de carpetas (%1): el próximo inicio no conocerá las carpetas elegidas ahora.</translation>
    </message>
    <message>
        <source>Send to PSP</source>
        <translation>Enviar a la PSP</translation>
    </message>
    <message>
        <source>Convert what is waiting and put the videos on the memory stick</source>
        <translation>Convertir lo que espera y poner los vídeos en la Memory Stick</translation>
    </message>
</context>
</TS>

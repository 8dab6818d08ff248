<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr" sourcelanguage="en">
<context>
    <name>QObject</name>
    <message>
        <source>Incomplete: its conversion was stopped or cut off before the end. Copy to PSP asks before copying it.</source>
        <translation>Incomplet : sa conversion a été arrêtée ou interrompue avant la fin. Copier sur la PSP demande avant de le copier.</translation>
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
        <translation>Dossiers</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Parcourir</translation>
    </message>
    <message>
        <source>Browse for the %1</source>
        <translation>Choisir le %1</translation>
    </message>
    <message>
        <source>Device folder</source>
        <translation>Dossier de l&apos;appareil</translation>
    </message>
    <message>
        <source>Choose the PSP memory stick with Browse</source>
        <translation>Choisissez la Memory Stick de la PSP avec Parcourir</translation>
    </message>
    <message>
        <source>Convert output folder</source>
        <translation>Dossier de sortie de la conversion</translation>
    </message>
    <message>
        <source>On the memory stick</source>
        <translation>Sur la Memory Stick</translation>
    </message>
    <message>
        <source>Remove from stick</source>
        <translation>Retirer de la carte</translation>
    </message>
    <message>
        <source>Removes the selected videos and their thumbnails from the memory stick</source>
        <translation>Retire de la Memory Stick les vidéos choisies et leurs miniatures</translation>
    </message>
    <message>
        <source>Eject</source>
        <translation>Éjecter</translation>
    </message>
    <message>
        <source>Writes everything out, unmounts the stick and powers it off, so that it can be pulled out safely</source>
        <translation>Écrit tout, démonte la carte et la met hors tension, pour qu&apos;elle puisse être retirée sans risque</translation>
    </message>
    <message>
        <source>Video files</source>
        <translation>Fichiers vidéo</translation>
    </message>
    <message>
        <source>Converted files</source>
        <translation>Fichiers convertis</translation>
    </message>
    <message>
        <source>Share of the device&apos;s free space the selection needs</source>
        <translation>Part de l&apos;espace libre de l&apos;appareil nécessaire à la sélection</translation>
    </message>
    <message>
        <source>Space the selection needs</source>
        <translation>Espace nécessaire à la sélection</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Actualiser</translation>
    </message>
    <message>
        <source>Copy to PSP</source>
        <translation>Copier sur la PSP</translation>
    </message>
    <message>
        <source>The settings file cannot be read (%1). The folders chosen now are used until the window closes; the file is left as it is.</source>
        <translation>Le fichier de réglages ne peut pas être lu (%1). Les dossiers choisis maintenant servent jusqu&apos;à la fermeture de la fenêtre ; le fichier reste tel quel.</translation>
    </message>
    <message>
        <source>The PSP finds videos only from the top folder of its memory stick, so %1 is used as the device folder rather than %2.</source>
        <translation>La PSP ne trouve les vidéos qu&apos;à partir du dossier racine de sa Memory Stick : %1 est donc utilisé comme dossier de l&apos;appareil au lieu de %2.</translation>
    </message>
    <message>
        <source>PSP memory stick found at %1: use it</source>
        <translation>Memory Stick de PSP trouvée dans %1 : l&apos;utiliser</translation>
    </message>
    <message>
        <source>Missing: the memory stick is not plugged in</source>
        <translation>Absente : la Memory Stick n&apos;est pas branchée</translation>
    </message>
    <message>
        <source>No device folder chosen.</source>
        <translation>Aucun dossier de l&apos;appareil choisi.</translation>
    </message>
    <message>
        <source>The device folder %1 is missing: plug in the PSP (USB mode) or choose another folder.</source>
        <translation>Le dossier de l&apos;appareil %1 est absent : branchez la PSP (mode USB) ou choisissez un autre dossier.</translation>
    </message>
    <message numerus="yes">
        <source>%n video(s)</source>
        <translation>
            <numerusform>%n vidéo</numerusform>
            <numerusform>%n vidéos</numerusform>
        </translation>
    </message>
    <message>
        <source>, %1 on the stick; %2 free.</source>
        <translation>, %1 sur la carte ; %2 libres.</translation>
    </message>
    <message>
        <source>Please select videos on the memory stick.</source>
        <translation>Veuillez choisir des vidéos sur la Memory Stick.</translation>
    </message>
    <message numerus="yes">
        <source>Remove %n video(s) from the memory stick, with their thumbnails?</source>
        <translation>
            <numerusform>Retirer %n vidéo de la Memory Stick, avec sa miniature ?</numerusform>
            <numerusform>Retirer %n vidéos de la Memory Stick, avec leurs miniatures ?</numerusform>
        </translation>
    </message>
    <message>
        <source>Could not remove from the memory stick:</source>
        <translation>Impossible de retirer de la Memory Stick :</translation>
    </message>
    <message>
        <source>Ejecting the stick…</source>
        <translation>Éjection de la carte…</translation>
    </message>
    <message>
        <source>  (Incomplete)</source>
        <translation>  (Incomplet)</translation>
    </message>
    <message>
        <source>The memory stick at %1 is not there any more: plug in the PSP (USB mode) again, or choose another device folder.</source>
        <translation>La Memory Stick dans %1 n&apos;est plus là : rebranchez la PSP (mode USB) ou choisissez un autre dossier de l&apos;appareil.</translation>
    </message>
    <message numerus="yes">
        <source>%n of the selected files did not finish converting (stopped or cut off before the end):</source>
        <translation>
            <numerusform>%n des fichiers choisis n&apos;a pas fini sa conversion (arrêtée ou interrompue avant la fin) :</numerusform>
            <numerusform>%n des fichiers choisis n&apos;ont pas fini leur conversion (arrêtée ou interrompue avant la fin) :</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Copy them to the PSP all the same? No leaves them out.</source>
        <translation>
            <numerusform>Le copier quand même sur la PSP ? « Non » le laisse de côté.</numerusform>
            <numerusform>Les copier quand même sur la PSP ? « Non » les laisse de côté.</numerusform>
        </translation>
    </message>
    <message>
        <source>Copying to the PSP…</source>
        <translation>Copie sur la PSP…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Cancelling…</source>
        <translation>Annulation…</translation>
    </message>
    <message>
        <source>Copying %1 to %2 (file %3 of %4)
%5 of %6</source>
        <translation>Copie de %1 vers %2 (fichier %3 sur %4)
%5 sur %6</translation>
    </message>
    <message>
        <source>Filename</source>
        <translation>Nom de fichier</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Durée</translation>
    </message>
    <message>
        <source>File Size</source>
        <translation>Taille</translation>
    </message>
    <message>
        <source>PSP name</source>
        <translation>Nom PSP</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titre</translation>
    </message>
    <message>
        <source>Plays on the PSP</source>
        <translation>Lisible sur la PSP</translation>
    </message>
    <message>
        <source>The memory stick</source>
        <translation>La Memory Stick</translation>
    </message>
    <message>
        <source>Selection: %p% of the free room</source>
        <translation>Sélection : %p% de l&apos;espace libre</translation>
    </message>
    <message>
        <source>Send to PSP</source>
        <translation>Envoyer sur la PSP</translation>
    </message>
    <message>
        <source>Converts what is waiting on the Convert page and puts the list&apos;s videos on the memory stick, in order, while they fit</source>
        <translation>Convertit ce qui attend sur la page Convertir et place les vidéos de la liste sur la Memory Stick, dans l&apos;ordre, tant qu&apos;elles tiennent</translation>
    </message>
    <message>
        <source>Eject when done</source>
        <translation>Éjecter à la fin</translation>
    </message>
    <message>
        <source>Send to PSP ejects the memory stick when it has finished</source>
        <translation>Envoyer sur la PSP éjecte la Memory Stick une fois terminé</translation>
    </message>
    <message>
        <source>Memory stick: </source>
        <translation>Memory Stick : </translation>
    </message>
    <message>
        <source>Choose the PSP memory stick first: the device folder is not set.</source>
        <translation>Choisissez d&apos;abord la Memory Stick de la PSP : le dossier de l&apos;appareil n&apos;est pas défini.</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>oui</translation>
    </message>
    <message>
        <source>no: %1</source>
        <translation>non : %1</translation>
    </message>
</context>
<context>
    <name>THomePicture</name>
    <message>
        <source>Your videos, ready for the PSP</source>
        <translation>Vos vidéos, prêtes pour la PSP</translation>
    </message>
    <message>
        <source>Add files on the Convert page, press Start,
then copy them to the memory stick on Folders and Files.</source>
        <translation>Ajoutez des fichiers dans Convertir, appuyez sur Démarrer,
puis copiez-les sur la Memory Stick depuis Dossiers et fichiers.</translation>
    </message>
</context>
<context>
    <name>TPreviewBox</name>
    <message>
        <source>Preview position</source>
        <translation>Position de l&apos;aperçu</translation>
    </message>
    <message>
        <source>Time of the preview&apos;s picture</source>
        <translation>Instant de l&apos;image de l&apos;aperçu</translation>
    </message>
    <message>
        <source>Preview position: %1</source>
        <translation>Position de l&apos;aperçu : %1</translation>
    </message>
    <message>
        <source>Ctrl+Left, Ctrl+Right: the previous, the next picture. Shift+Left, Shift+Right: one second back, on.</source>
        <translation>Ctrl+Gauche, Ctrl+Droite : l&apos;image précédente, la suivante. Maj+Gauche, Maj+Droite : une seconde en arrière, en avant.</translation>
    </message>
    <message>
        <source>Preview picture</source>
        <translation>Image de l&apos;aperçu</translation>
    </message>
</context>
<context>
    <name>TSendToPSP</name>
    <message>
        <source>Nothing to send: add files on the Convert page first.</source>
        <translation>Rien à envoyer : ajoutez d&apos;abord des fichiers sur la page Convertir.</translation>
    </message>
    <message>
        <source>The batch %1.

Send those that fit at the usual quality?</source>
        <translation>Le lot %1.

Envoyer celles qui tiennent à la qualité habituelle ?</translation>
    </message>
    <message>
        <source>Send what fits</source>
        <translation>Envoyer ce qui tient</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>The videos do not all fit on the memory stick at the usual quality. Convert them at %1?

Keeping the quality sends those that fit, in the list&apos;s order.</source>
        <translation>Les vidéos ne tiennent pas toutes sur la Memory Stick à la qualité habituelle. Les convertir à %1 ?

Garder la qualité envoie celles qui tiennent, dans l&apos;ordre de la liste.</translation>
    </message>
    <message>
        <source>Make them fit</source>
        <translation>Les faire tenir</translation>
    </message>
    <message>
        <source>Keep the quality</source>
        <translation>Garder la qualité</translation>
    </message>
    <message>
        <source>Send to PSP stopped with the conversion: nothing was copied to the memory stick.</source>
        <translation>Envoyer sur la PSP s&apos;est arrêté avec la conversion : rien n&apos;a été copié sur la Memory Stick.</translation>
    </message>
    <message numerus="yes">
        <source>%n video(s) on the memory stick</source>
        <translation>
            <numerusform>%n vidéo sur la Memory Stick</numerusform>
            <numerusform>%n vidéos sur la Memory Stick</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n did not fit</source>
        <translation>
            <numerusform>, %n n&apos;a pas tenu</numerusform>
            <numerusform>, %n n&apos;ont pas tenu</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TfrmConvertItem</name>
    <message>
        <source>Preview position</source>
        <translation>Position de l&apos;aperçu</translation>
    </message>
    <message>
        <source>Input</source>
        <translation>Entrée</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>Sortie</translation>
    </message>
    <message>
        <source>Stopped at %1%</source>
        <translation>Arrêté à %1 %</translation>
    </message>
    <message>
        <source>Done, no thumbnail</source>
        <translation>Terminé, sans miniature</translation>
    </message>
    <message>
        <source>Expected size of the converted file</source>
        <translation>Taille prévue du fichier converti</translation>
    </message>
    <message>
        <source>Show log…</source>
        <translation>Afficher le journal…</translation>
    </message>
    <message>
        <source>Open containing folder</source>
        <translation>Ouvrir le dossier parent</translation>
    </message>
    <message>
        <source>%1 could not be opened: the desktop has no program to show folders with.</source>
        <translation>%1 n&apos;a pas pu être ouvert : le bureau n&apos;a aucun programme pour afficher les dossiers.</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Lire</translation>
    </message>
    <message>
        <source>%1 could not be played: the desktop has no player for it.</source>
        <translation>%1 n&apos;a pas pu être lu : le bureau n&apos;a aucun lecteur pour ce fichier.</translation>
    </message>
    <message>
        <source>about %1</source>
        <translation>environ %1</translation>
    </message>
    <message>
        <source>Paused at %p%</source>
        <translation>En pause à %p %</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Échec : %1</translation>
    </message>
    <message>
        <source>The thumbnail of %1 was not written: %2</source>
        <translation>La miniature de %1 n&apos;a pas été écrite : %2</translation>
    </message>
    <message>
        <source>Input ended at %1%</source>
        <translation>Entrée terminée à %1 %</translation>
    </message>
    <message>
        <source>The input ended at %1 of the %2 it states: it may be cut short or damaged. What it held is converted.</source>
        <translation>L&apos;entrée s&apos;est arrêtée à %1 sur les %2 annoncés : elle est peut-être tronquée ou abîmée. Ce qu&apos;elle contenait est converti.</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Échec</translation>
    </message>
    <message>
        <source>Stopped at %p%</source>
        <translation>Arrêté à %p %</translation>
    </message>
    <message>
        <source>Log of %1</source>
        <translation>Journal de %1</translation>
    </message>
    <message>
        <source>Nothing has been said about this file yet.</source>
        <translation>Rien n&apos;a encore été signalé pour ce fichier.</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Copier</translation>
    </message>
    <message>
        <source>Sound</source>
        <translation>Son</translation>
    </message>
    <message>
        <source>Subtitles</source>
        <translation>Sous-titres</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Aucun</translation>
    </message>
    <message>
        <source>Subtitle file...</source>
        <translation>Fichier de sous-titres…</translation>
    </message>
    <message>
        <source>Subtitles to burn into the picture</source>
        <translation>Sous-titres à incruster dans l&apos;image</translation>
    </message>
    <message>
        <source>Subtitles (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)</source>
        <translation>Sous-titres (*.srt *.ass *.ssa *.vtt *.SRT *.ASS *.SSA *.VTT)</translation>
    </message>
    <message>
        <source>Set start (%1)</source>
        <translation>Définir le début (%1)</translation>
    </message>
    <message>
        <source>Set end (%1)</source>
        <translation>Définir la fin (%1)</translation>
    </message>
    <message>
        <source>Whole file</source>
        <translation>Fichier entier</translation>
    </message>
    <message>
        <source>%1 s still</source>
        <translation>image fixe de %1 s</translation>
    </message>
    <message>
        <source>Sound %1</source>
        <translation>Son %1</translation>
    </message>
    <message>
        <source>Subtitles %1</source>
        <translation>Sous-titres %1</translation>
    </message>
    <message>
        <source>%1 (forced)</source>
        <translation>%1 (forcés)</translation>
    </message>
    <message>
        <source>
(right-click the panel to choose)</source>
        <translation>
(clic droit sur le panneau pour choisir)</translation>
    </message>
    <message>
        <source>Space selects the panel; the Menu key opens its menu; [ and ] set the start and end of the part to convert at the preview&apos;s picture.</source>
        <translation>Espace sélectionne le panneau ; la touche Menu ouvre son menu ; [ et ] placent le début et la fin de la partie à convertir sur l&apos;image de l&apos;aperçu.</translation>
    </message>
    <message>
        <source>Output file name</source>
        <translation>Nom du fichier de sortie</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Titre</translation>
    </message>
    <message>
        <source>Profile</source>
        <translation>Profil</translation>
    </message>
    <message>
        <source>Progress of %1</source>
        <translation>Progression de %1</translation>
    </message>
    <message>
        <source>Filename:</source>
        <translation>Fichier :</translation>
    </message>
    <message>
        <source>Format:</source>
        <translation>Format :</translation>
    </message>
    <message>
        <source>Duration:</source>
        <translation>Durée :</translation>
    </message>
    <message>
        <source>Title:</source>
        <translation>Titre :</translation>
    </message>
    <message>
        <source>end</source>
        <translation>fin</translation>
    </message>
</context>
<context>
    <name>TfrmConvertList</name>
    <message>
        <source>%1 files could not be added:</source>
        <translation>%1 fichiers n&apos;ont pas pu être ajoutés :</translation>
    </message>
    <message>
        <source>Click the panels to remove (or press Space on one), then Remove.</source>
        <translation>Cliquez sur les panneaux à retirer (ou appuyez sur Espace sur l&apos;un d&apos;eux), puis sur Retirer.</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>En pause</translation>
    </message>
    <message>
        <source>Conversion stopped</source>
        <translation>Conversion arrêtée</translation>
    </message>
    <message>
        <source>Stopping…</source>
        <translation>Arrêt…</translation>
    </message>
    <message>
        <source>Nothing is converting</source>
        <translation>Aucune conversion en cours</translation>
    </message>
    <message>
        <source>Nothing is paused</source>
        <translation>Rien n&apos;est en pause</translation>
    </message>
    <message>
        <source>Converting %1</source>
        <translation>Conversion de %1</translation>
    </message>
    <message>
        <source>Nothing to start: add files first</source>
        <translation>Rien à démarrer : ajoutez d&apos;abord des fichiers</translation>
    </message>
    <message>
        <source>Paused: Resume goes on, Stop ends the batch</source>
        <translation>En pause : Reprendre continue, Arrêter met fin au lot</translation>
    </message>
    <message>
        <source>Converting %1 (%2 of %3)</source>
        <translation>Conversion de %1 (%2 sur %3)</translation>
    </message>
    <message>
        <source>Conversion failed: %1</source>
        <translation>Échec de la conversion : %1</translation>
    </message>
    <message>
        <source>All conversions finished</source>
        <translation>Toutes les conversions sont terminées</translation>
    </message>
    <message>
        <source>Add video, audio or picture files with “Add”, or drop them here.</source>
        <translation>Ajoutez des fichiers vidéo, audio ou image avec « Ajouter », ou déposez-les ici.</translation>
    </message>
</context>
<context>
    <name>TfrmMain</name>
    <message>
        <source>Home</source>
        <translation>Accueil</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Convertir</translation>
    </message>
    <message>
        <source>Folders and Files</source>
        <translation>Dossiers et fichiers</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>État</translation>
    </message>
    <message>
        <source>Expected size</source>
        <translation>Taille prévue</translation>
    </message>
    <message numerus="yes">
        <source>Restore %n file(s) from last time</source>
        <translation>
            <numerusform>Restaurer %n fichier de la dernière fois</numerusform>
            <numerusform>Restaurer %n fichiers de la dernière fois</numerusform>
        </translation>
    </message>
    <message>
        <source>Pages</source>
        <translation>Pages</translation>
    </message>
    <message>
        <source>Commands</source>
        <translation>Commandes</translation>
    </message>
    <message>
        <source>Conversion list</source>
        <translation>Liste de conversion</translation>
    </message>
    <message>
        <source>The files to convert, one panel each: arrow keys move between them, Space selects, the Menu key opens a panel&apos;s menu.</source>
        <translation>Les fichiers à convertir, un panneau chacun : les flèches passent de l&apos;un à l&apos;autre, Espace sélectionne, la touche Menu ouvre le menu d&apos;un panneau.</translation>
    </message>
    <message>
        <source>Overall progress</source>
        <translation>Progression globale</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Fichier</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>&amp;Convert</source>
        <translation>&amp;Convertir</translation>
    </message>
    <message>
        <source>&amp;Go</source>
        <translation>A&amp;ller à</translation>
    </message>
    <message>
        <source>&amp;Home</source>
        <translation>&amp;Accueil</translation>
    </message>
    <message>
        <source>&amp;Folders and Files</source>
        <translation>&amp;Dossiers et fichiers</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Aide</translation>
    </message>
    <message>
        <source>&amp;About Korvelo Converter</source>
        <translation>À &amp;propos de Korvelo Converter</translation>
    </message>
    <message>
        <source>About Korvelo Converter</source>
        <translation>À propos de Korvelo Converter</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Korvelo Converter&lt;/h3&gt;&lt;p&gt;Version %1&lt;/p&gt;&lt;p&gt;Turns video, audio and picture files into MP4 files that the PSP plays, and copies them onto its memory stick.&lt;/p&gt;&lt;p&gt;%2&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Korvelo Converter&lt;/h3&gt;&lt;p&gt;Version %1&lt;/p&gt;&lt;p&gt;Convertit des fichiers vidéo, audio et image en fichiers MP4 que la PSP lit, et les copie sur sa Memory Stick.&lt;/p&gt;&lt;p&gt;%2&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Thanks to Developer Teams for: FFmpeg&apos;s libraries and AAC encoder, x264, libass, Qt, libjpeg-turbo</source>
        <translation>Merci aux équipes qui développent : les bibliothèques et l&apos;encodeur AAC de FFmpeg, x264, libass, Qt, libjpeg-turbo</translation>
    </message>
    <message>
        <source>About</source>
        <translation>À propos</translation>
    </message>
    <message>
        <source>Korvelo Converter %1</source>
        <translation>Korvelo Converter %1</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Ajouter</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Retirer</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Vider</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Démarrer</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Arrêter</translation>
    </message>
    <message>
        <source>Nothing to stop</source>
        <translation>Rien à arrêter</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Reprendre</translation>
    </message>
    <message>
        <source>AVC Folder</source>
        <translation>Dossier AVC</translation>
    </message>
    <message>
        <source>Open AVC output folder</source>
        <translation>Ouvrir le dossier de sortie AVC</translation>
    </message>
    <message>
        <source>MPEG4 Folder</source>
        <translation>Dossier MPEG4</translation>
    </message>
    <message>
        <source>Open MPEG4 output folder</source>
        <translation>Ouvrir le dossier de sortie MPEG4</translation>
    </message>
    <message>
        <source>Device Folder</source>
        <translation>Dossier de l&apos;appareil</translation>
    </message>
    <message>
        <source>Open Device Folder</source>
        <translation>Ouvrir le dossier de l&apos;appareil</translation>
    </message>
    <message>
        <source>Add files</source>
        <translation>Ajouter des fichiers</translation>
    </message>
    <message>
        <source>%1 could not be opened: the desktop has no program to show folders with.</source>
        <translation>%1 n&apos;a pas pu être ouvert : le bureau n&apos;a aucun programme pour afficher les dossiers.</translation>
    </message>
    <message>
        <source>A conversion is running. Stop it and quit?</source>
        <translation>Une conversion est en cours. L&apos;arrêter et quitter ?</translation>
    </message>
    <message>
        <source>Stop and quit</source>
        <translation>Arrêter et quitter</translation>
    </message>
    <message>
        <source>Keep converting</source>
        <translation>Continuer la conversion</translation>
    </message>
    <message>
        <source>Stopping the conversion before closing…</source>
        <translation>Arrêt de la conversion avant la fermeture…</translation>
    </message>
    <message>
        <source>The files still to convert could not be kept for the next start (%1).</source>
        <translation>Les fichiers restant à convertir n&apos;ont pas pu être gardés pour le prochain démarrage (%1).</translation>
    </message>
    <message>
        <source>The folder settings could not be saved (%1): the next start will not know the folders chosen now.</source>
        <translation>Les réglages des dossiers n&apos;ont pas pu être enregistrés (%1) : au prochain démarrage, les dossiers choisis maintenant seront inconnus.</translation>
    </message>
    <message>
        <source>Send to PSP</source>
        <translation>Envoyer sur la PSP</translation>
    </message>
    <message>
        <source>Convert what is waiting and put the videos on the memory stick</source>
        <translation>Convertir ce qui attend et placer les vidéos sur la Memory Stick</translation>
    </message>
</context>
</TS>

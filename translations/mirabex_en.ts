<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="fr">
<context>
    <name>MainWindow</name>
    <message>
        <source>Erreur</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Impossible d&apos;ouvrir le fichier </source>
        <translation>Cannot open the file </translation>
    </message>
    <message>
        <source>Impossible d&apos;ouvrir le dossier </source>
        <translation>Cannot open the folder </translation>
    </message>
    <message>
        <source>Fichier non trouvé</source>
        <translation>File not found</translation>
    </message>
    <message>
        <source>Le fichier </source>
        <translation>The file </translation>
    </message>
    <message>
        <source> n&apos;existe pas.</source>
        <translation> does not exist.</translation>
    </message>
    <message>
        <source>Fichier illisible</source>
        <translation>Unreadable file</translation>
    </message>
    <message>
        <source>impossible d&apos;ouvrir le fichier </source>
        <translation>cannot open the file </translation>
    </message>
    <message>
        <source>Fichier modifié : </source>
        <translation>File modified: </translation>
    </message>
    <message>
        <source>Avant : </source>
        <translation>Before: </translation>
    </message>
    <message>
        <source>Après : </source>
        <translation>After: </translation>
    </message>
    <message>
        <source>Fichier non modifié : </source>
        <translation>File not modified: </translation>
    </message>
    <message>
        <source>Chaine </source>
        <translation>String </translation>
    </message>
    <message>
        <source> non identifiée bien que présente.</source>
        <translation> not identified although present.</translation>
    </message>
    <message>
        <source>Modification non prise en compte, vérifier l&apos;accès au fichier </source>
        <translation>Change not applied, check access to the file </translation>
    </message>
    <message>
        <source>Dossier non parcouru : </source>
        <translation>Folder not walked: </translation>
    </message>
    <message>
        <source>Dossier illisible : les fichiers qu&apos;il contient n&apos;ont pas été échangés.</source>
        <translation>Unreadable folder: the files it holds were not switched.</translation>
    </message>
    <message>
        <source>Fichier illisible : ses valeurs n&apos;ont pas été échangées.</source>
        <translation>Unreadable file: its values were not switched.</translation>
    </message>
    <message>
        <source>Écriture impossible : le fichier garde son contenu d&apos;avant l&apos;échange.</source>
        <translation>Cannot write: the file keeps its content from before the switch.</translation>
    </message>
    <message>
        <source>Paire de valeurs non utilisée : </source>
        <translation>Pair of values not used: </translation>
    </message>
    <message>
        <source>Une des deux valeurs est vide : l&apos;échange de cette paire ne pourrait pas être défait par l&apos;échange inverse.</source>
        <translation>One of the two values is empty: switching this pair could not be undone by the switch back.</translation>
    </message>
    <message>
        <source>Fichier laissé intact : il contient des octets nuls (fichier binaire), sa réécriture l&apos;endommagerait.</source>
        <translation>File left intact: it holds NUL bytes (binary file), rewriting it would damage it.</translation>
    </message>
    <message>
        <source>Fichier laissé intact : son texte UTF-16 ou UTF-32 est abîmé, sa réécriture en altérerait des caractères.</source>
        <translation>File left intact: its UTF-16 or UTF-32 text is damaged, rewriting it would alter characters.</translation>
    </message>
    <message>
        <source>Dossier source</source>
        <translation>Source folder</translation>
    </message>
    <message>
        <source>Dossier de recherche : </source>
        <translation>Search folder: </translation>
    </message>
    <message>
        <source>Valeur Environnement= dans le fichier </source>
        <translation>Environnement= value in the file </translation>
    </message>
    <message>
        <source>/config.ini incorrecte</source>
        <translation>/config.ini is wrong</translation>
    </message>
    <message>
        <source>Valeur MainDir= dans le fichier </source>
        <translation>MainDir= value in the file </translation>
    </message>
    <message>
        <source>Les valeurs dans le fichier </source>
        <translation>The values in the file </translation>
    </message>
    <message>
        <source>/values.ini sont incorrectes.&lt;br /&gt;Vérifier leur présence ou leur parité.</source>
        <translation>/values.ini are wrong.&lt;br /&gt;Check that they are there and come in pairs.</translation>
    </message>
    <message>
        <source>/values.ini ne peuvent pas être utilisées : la ligne %1 contient des octets nuls ou des caractères mal encodés. Aucun fichier n&apos;a été modifié.</source>
        <translation>/values.ini cannot be used: line %1 holds NUL bytes or badly encoded characters. No file was modified.</translation>
    </message>
    <message>
        <source>L&apos;environnement ne peut pas être enregistré dans le fichier </source>
        <translation>The environment cannot be recorded in the file </translation>
    </message>
    <message>
        <source> : son texte UTF-16 ou UTF-32 est abîmé, sa réécriture l&apos;altérerait. Aucun fichier n&apos;a été modifié.</source>
        <translation>: its UTF-16 or UTF-32 text is damaged, rewriting it would alter it. No file was modified.</translation>
    </message>
    <message>
        <source> : sa ligne Environnement= ne peut pas être réécrite. Aucun fichier n&apos;a été modifié.</source>
        <translation>: its Environnement= line cannot be rewritten. No file was modified.</translation>
    </message>
    <message>
        <source>L&apos;échange n&apos;est pas complet : une partie de l&apos;arborescence est restée </source>
        <translation>The switch is not complete: part of the tree stayed </translation>
    </message>
    <message>
        <source>en production.</source>
        <translation>in production.</translation>
    </message>
    <message>
        <source>en développement.</source>
        <translation>in development.</translation>
    </message>
    <message>
        <source>Fichiers non échangés : %1</source>
        <translation>Files not switched: %1</translation>
    </message>
    <message>
        <source>Dossiers non parcourus : %1</source>
        <translation>Folders not walked: %1</translation>
    </message>
    <message>
        <source>Le journal les nomme, en rouge.</source>
        <translation>The log names them, in red.</translation>
    </message>
    <message>
        <source>Mirabex</source>
        <translation>Mirabex</translation>
    </message>
    <message>
        <source>Quitter</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>À propos de Mirabex...</source>
        <translation>About Mirabex...</translation>
    </message>
    <message>
        <source>Environnement actuel</source>
        <translation>Current environment</translation>
    </message>
    <message>
        <source>Journal</source>
        <translation>Log</translation>
    </message>
    <message>
        <source>Traiter les sous dossiers</source>
        <translation>Include subfolders</translation>
    </message>
    <message>
        <source>Filtre fichiers :</source>
        <translation>File filter:</translation>
    </message>
    <message>
        <source>Vider le journal</source>
        <translation>Clear the log</translation>
    </message>
    <message>
        <source>Échanger les valeurs</source>
        <translation>Switch the values</translation>
    </message>
    <message>
        <source>Changer de dossier</source>
        <translation>Change folder</translation>
    </message>
    <message>
        <source>Sensible à la case</source>
        <translation>Case sensitive</translation>
    </message>
    <message>
        <source>Séparer les valeurs avec ;</source>
        <translation>Separate the values with ;</translation>
    </message>
    <message>
        <source>Fichier</source>
        <translation>File</translation>
    </message>
    <message>
        <source>?</source>
        <translation>?</translation>
    </message>
    <message>
        <source>Un échange de valeurs est en cours : Mirabex le termine avant de se fermer.</source>
        <translation>A switch of values is under way: Mirabex finishes it before it closes.</translation>
    </message>
    <message>
        <source>Fichier changé pendant l&apos;échange : il garde son contenu, ses valeurs n&apos;ont pas été échangées.</source>
        <translation>File changed during the switch: it keeps its content, its values were not switched.</translation>
    </message>
    <message>
        <source>Échange interrompu : sa nouvelle version a été mise en place.</source>
        <translation>Interrupted switch: its new version was put in place.</translation>
    </message>
    <message>
        <source>Échange interrompu : le fichier a changé depuis, il garde son contenu et sa nouvelle version a été supprimée.</source>
        <translation>Interrupted switch: the file has changed since, it keeps its content and its new version was deleted.</translation>
    </message>
    <message>
        <source>Échange interrompu avant l&apos;enregistrement du nouvel environnement : sa nouvelle version a été supprimée.</source>
        <translation>Switch interrupted before the new environment was recorded: its new version was deleted.</translation>
    </message>
    <message>
        <source>Échange interrompu : sa nouvelle version n&apos;a pas pu être mise en place, le fichier garde son contenu d&apos;avant l&apos;échange.</source>
        <translation>Interrupted switch: its new version could not be put in place, the file keeps its content from before the switch.</translation>
    </message>
    <message>
        <source>Échange interrompu : cette nouvelle version d&apos;un fichier n&apos;a pu être ni mise en place ni supprimée, elle reste à examiner.</source>
        <translation>Interrupted switch: this new version of a file could be neither put in place nor deleted; it is left for you to look at.</translation>
    </message>
    <message>
        <source>Les nouvelles versions des fichiers n&apos;ont pas pu être écrites sur le disque : l&apos;échange a été annulé. Aucun fichier n&apos;a été modifié.</source>
        <translation>The new versions of the files could not be written to the disk: the switch was cancelled. No file was changed.</translation>
    </message>
    <message>
        <source> a changé pendant l&apos;échange : l&apos;échange a été annulé. Aucun fichier n&apos;a été modifié.</source>
        <translation> changed during the switch: the switch was cancelled. No file was changed.</translation>
    </message>
    <message>
        <source>en production</source>
        <translation>in production</translation>
    </message>
    <message>
        <source>en développement</source>
        <translation>in development</translation>
    </message>
    <message>
        <source>Le dernier échange ne s&apos;est pas terminé : Mirabex a été arrêté pendant l&apos;échange.</source>
        <translation>The last switch did not finish: Mirabex was stopped during the switch.</translation>
    </message>
    <message>
        <source>Le nouvel environnement était déjà enregistré dans le fichier %1 : l&apos;échange a été terminé, l&apos;arborescence est maintenant %2.</source>
        <translation>The new environment was already recorded in the file %1: the switch was finished, the tree is now %2.</translation>
    </message>
    <message>
        <source>Fichiers mis en place : %1</source>
        <translation>Files put in place: %1</translation>
    </message>
    <message>
        <source>Fichiers changés depuis, laissés tels quels (peut-être encore %1) : %2</source>
        <translation>Files changed since, left as they are (perhaps still %1): %2</translation>
    </message>
    <message>
        <source>Fichiers qui n&apos;ont pas pu être mis en place, restés %1 : %2</source>
        <translation>Files that could not be put in place, still %1: %2</translation>
    </message>
    <message>
        <source>Le nouvel environnement n&apos;était pas encore enregistré : l&apos;échange a été annulé, l&apos;arborescence est restée %1.</source>
        <translation>The new environment was not recorded yet: the switch was cancelled, the tree stayed %1.</translation>
    </message>
    <message>
        <source>Versions préparées supprimées : %1</source>
        <translation>Prepared versions deleted: %1</translation>
    </message>
    <message>
        <source>Versions préparées laissées dans l&apos;arborescence, à examiner : %1</source>
        <translation>Prepared versions left in the tree, to look at: %1</translation>
    </message>
    <message>
        <source>Le journal les nomme.</source>
        <translation>The journal names them.</translation>
    </message>
    <message>
        <source>Logo de Mirabex</source>
        <translation>Mirabex logo</translation>
    </message>
    <message>
        <source>Environnement en vigueur : production</source>
        <translation>Environment in force: production</translation>
    </message>
    <message>
        <source>Environnement en vigueur : développement</source>
        <translation>Environment in force: development</translation>
    </message>
    <message>
        <source>Journal des échanges</source>
        <translation>Switch log</translation>
    </message>
    <message>
        <source>Filtre fichiers</source>
        <translation>File filter</translation>
    </message>
</context>
</TS>

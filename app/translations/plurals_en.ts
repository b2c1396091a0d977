<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- The program's texts are written in English; this file only gives the
     English singular of the texts that count something ("%n"). -->
<TS version="2.1" language="en_GB">
<context>
    <name>ReviewDialog</name>
    <message numerus="yes">
        <source>%n lines removed</source>
        <translation>
            <numerusform>%n line removed</numerusform>
            <numerusform>%n lines removed</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n lines added</source>
        <translation>
            <numerusform>%n line added</numerusform>
            <numerusform>%n lines added</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>FBroadcast</name>
    <message numerus="yes">
        <source>This server broadcasts on %n networks and does not listen to broadcasts; &apos;Client only&apos; stops broadcasting, &apos;Client and server&apos; also listens</source>
        <translation>
            <numerusform>This server broadcasts on %n network and does not listen to broadcasts; &apos;Client only&apos; stops broadcasting, &apos;Client and server&apos; also listens</numerusform>
            <numerusform>This server broadcasts on %n networks and does not listen to broadcasts; &apos;Client only&apos; stops broadcasting, &apos;Client and server&apos; also listens</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ConfigCheck</name>
    <message numerus="yes">
        <source>Only %n time sources: fewer than four cannot outvote one wrong clock.</source>
        <translation>
            <numerusform>Only %n time source: fewer than four cannot outvote one wrong clock.</numerusform>
            <numerusform>Only %n time sources: fewer than four cannot outvote one wrong clock.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>tos minsane %1 needs %n usable time sources, but this file has %2: the daemon never selects a source and the clock is not synchronised.</source>
        <translation>
            <numerusform>tos minsane %1 needs %n usable time source, but this file has %2: the daemon never selects a source and the clock is not synchronised.</numerusform>
            <numerusform>tos minsane %1 needs %n usable time sources, but this file has %2: the daemon never selects a source and the clock is not synchronised.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SyncDiagnosis</name>
    <message numerus="yes">
        <source>No time source is reachable: none of the %n sources answered the last eight polls%1.</source>
        <translation>
            <numerusform>No time source is reachable: the only source did not answer the last eight polls%1.</numerusform>
            <numerusform>No time source is reachable: none of the %n sources answered the last eight polls%1.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n usable source(s), but &quot;tos minsane %1&quot; needs %1: the daemon selects none.</source>
        <translation>
            <numerusform>%n usable source, but &quot;tos minsane %1&quot; needs %1: the daemon selects none.</numerusform>
            <numerusform>%n usable sources, but &quot;tos minsane %1&quot; needs %1: the daemon selects none.</numerusform>
        </translation>
    </message>
</context>
</TS>

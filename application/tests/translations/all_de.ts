<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>KsApp</name>
    <message>
        <source>All rights reserved</source>
        <comment>[all]Appears in the About box</comment>
        <translation>Alle Rechte vorbehalten</translation>
    </message>
    <message>
        <source>en</source>
        <comment>[all]Two letter code of the current locale</comment>
        <translation>de</translation>
    </message>
</context>
</TS>

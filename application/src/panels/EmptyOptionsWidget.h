#pragma once
// The options page of tools that have no options: one widget per process, holding only a
// stretch. It is built on first use and again after a tool that showed it deleted it.

class QWidget;

QWidget* createEmptyOptionsWidget();

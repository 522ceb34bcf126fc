#pragma once
// Process-wide objects that start-up publishes for every subsystem. Each is
// set once on the main thread during start-up, before the threads that read
// it exist, and never cleared; the objects they reach are never freed.
#include <QMutex>
#include <QPointer>
#include <QString>

class FrameIO;     // the IO frame of machine IO
class DiVuVarude;  // the application hub

// The IO frame, observed only: null until start-up creates it.
extern QPointer<FrameIO> g_FrameIO;

// Font family of the texts drawn into saved alarm images; "wqy-microhei"
// unless start-up loads the font file and it names another family.
extern QString g_BaseFont;

// Guards the shared capture frame buffer (the capture thread writes it, the
// hub copies it). Null until start-up creates it.
extern QMutex* pMutex;

// The application hub; null until start-up has constructed it.
extern DiVuVarude* gpWin;

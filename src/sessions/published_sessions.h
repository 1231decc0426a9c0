#pragma once
// The latest report's sessions, handed from the report thread to readers on other threads
// (the metrics server): they see the copy the report thread made, never the live table.

#include "base/published.h"
#include "sessions/session_figures.h"

class PublishedSessions : public Published<SessionsReport> {};

#pragma once

#include <QStringList>

// Turns a filter of the form "Description|pattern;pattern|...||" into Qt's name filters
// ("Description (pattern pattern)"). A description that already ends in its patterns in
// parentheses is kept as it is. Pairs without a pattern are dropped.
QStringList ToQtNameFilters(const QString& barSeparatedFilter);

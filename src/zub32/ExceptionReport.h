// The exception report: an XML file in the program directory and a syslog
// summary line.
#pragma once

#include <exception>
#include <string>

#include "zub32/Records.h"

namespace zub32 {

// Writes the report for Rec and posts its summary; returns the report's file
// name without directory, or empty when GlobalSettings.SelfName is empty.
std::string SaveExceptionRecAsXML(tExceptionRec Rec);

// Fills a record for a caught error in the usual way (Function, ClassName,
// Message, Trace, FileName from GlobalSettings, Beep) and saves it.
std::string ReportException(const std::string& function, const std::string& class_name,
                            const std::string& message, std::int32_t trace);

// The class name a report shows for a caught error: the catalogue's name for
// the program's own errors, the type's name for any other.
std::string ExceptionClassName(const std::exception& error);

}  // namespace zub32

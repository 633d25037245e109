// The run as JUnit XML (--junit), for CI servers: one <testsuites> with one
// <testsuite> for the run, and a <testcase> per port (per port and speed in
// a sweep), named "port 2 (COM2)" ("port 2 (COM2) at 9600 bit/s"), so that
// names are unique within the file (GitLab keeps only the first of two
// cases of one name). The classname is "vesktest." and the unit's serial
// number, or the station's name without one (dots and blanks as "_", so
// that Jenkins groups by it as one class under "vesktest").
//
// A port that failed has a <failure> whose message is its reasons and
// whose text is the run's own line for it ("port 2 (COM2): 3 receive
// errors"); a port that did not open, or was lost while it ran, an
// <error>; a port that opened but was never tested (the run was stopped
// first) <skipped>; a run stopped before its time has one more case, "run
// aborted", an <error> of type "aborted". What failed the run as a whole
// and belongs to no port ("still receiving after 60 s: ports 1, 2"; a
// sweep's modem-line check) is one more case, "run" ("modem lines"). The
// <testsuites> element carries only what Jenkins' xunit schema allows
// there (name, tests, failures, errors, time). The suite's properties carry
// the unit, station, operator, version, run id, outcome and exit code;
// its timestamp is the start in UTC without a zone, as the Ant schema
// that CI servers read wants it; its time and each case's are seconds.
// The exit code, not the file, fails a CI job.
#pragma once

#include <string>

#include "tester/report/run_record.h"

std::string FormatJunitReport(const RunRecord& record);

// `text` escaped for XML content and attribute values: & < > " ' as
// entities, line ends kept as character references, other control
// characters (which XML 1.0 forbids) as U+FFFD, and bytes that are not
// UTF-8 taken as Latin-1.
std::string XmlEscaped(const std::string& text);

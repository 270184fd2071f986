// The constant table of the suite's component files.
#pragma once

// The description of a component for the log: "a control" when the class
// identifier is empty or not in the catalogue.
const char* DescribeComponent(const char* classId);

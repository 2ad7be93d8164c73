#pragma once

namespace sorvane
{

class FieldModel;

// Copies Tag into the six fields and selects title and artist where they show text, unless the
// record's title starts with six equal characters (a blank or filler title).
void LoadTagFields(FieldModel& model);

// ReadTagRecord on the path field, then LoadTagFields; on a failed read nothing is loaded.
void ReadTag(FieldModel& model);

} // namespace sorvane

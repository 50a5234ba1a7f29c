// The merge-module object "Msm.Merge2.1", served through CoCreateInstance and
// late binding (IDispatch). It merges a module database into a package with
// the layer's own database calls:
//
//   OpenDatabase(path)            the package, transacted
//   OpenModule(path, language)    the module, read only; a module of another
//                                 language than a non-zero `language` is refused
//   Merge(feature, directory)     the module's tables into the package:
//     - rows that the package holds with other values are not copied and each
//       becomes an error of type 4 (TABLE_MERGE); the other rows all go in;
//     - the module's TARGETDIR children (and components placed in TARGETDIR)
//       move under `directory`;
//     - the module's components are attached to `feature` (FeatureComponents);
//     - Module*Sequence rows are placed in the package's sequence tables by
//       their Sequence, or before/after their BaseAction (type 5 when there
//       is no room or no such action);
//     - the files of MergeModule.CABinet go into one new cabinet stream of the
//       package with a new Media row (DiskId and file sequences after the
//       highest ones in the package).
//     A module that cannot be merged whole (no such feature or directory,
//     tables of another shape, files missing from its cabinet) changes nothing.
//   Connect(feature)              attaches the module's components to one more feature
//   Errors                        the errors of the last call: Count, Item(1..Count),
//                                 each with DatabaseTable, DatabaseKeys, ModuleTable,
//                                 ModuleKeys (Count, Item(0..Count-1)), Language,
//                                 Type, Path
//   CloseModule()
//   CloseDatabase(commit)         commits when asked and nothing failed half-way
//
// A failing method answers DISP_E_EXCEPTION with the cause in the exception
// record. The object is linked in with the msi layer and registered at start.
#pragma once

#include "platform/win32/oleaut32/oleauto.h"

extern const CLSID CLSID_MsmMerge2;

// Error types of the error records.
#define msmErrorLanguageUnsupported 1
#define msmErrorLanguageFailed 2
#define msmErrorExclusion 3
#define msmErrorTableMerge 4
#define msmErrorResequenceMerge 5
#define msmErrorFileCreate 6
#define msmErrorDirCreate 7
#define msmErrorFeatureRequired 8

#pragma once

class TFiche_principale;
class TFExtraction;
class TFjointure;
class TFcoupure;
class TFedittext;

// The five windows of the running application. CreateApplicationWindows makes them and
// DestroyApplicationWindows lets them go; nothing else changes them. Each unit names its
// window through a read-only reference to its member here (Fiche_principale, FExtraction,
// Fjointure, Fcoupure, Fedittext).
struct ApplicationWindows
{
    TFiche_principale *launcher = nullptr;
    TFExtraction *extraction = nullptr;
    TFjointure *join = nullptr;
    TFcoupure *cut = nullptr;
    TFedittext *edit = nullptr;
};

const ApplicationWindows &applicationWindows();

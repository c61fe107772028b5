// The chart view of the main window and the View menu's entries.
#include "app/TMainForm.h"

void TMainForm::Grafik1Click() {}
void TMainForm::DisplayClick() {}
void TMainForm::b_StartClick() {}
void TMainForm::b_Stop_Click() {}
void TMainForm::b_ResetClick() {}
void TMainForm::b_CancelClick() {}
void TMainForm::PrepareChart() {}

#include "app/AppWindows.h"
#include "platform/Demo.h"

#include "acquisition/TFormDisplay.h"
#include "app/TFormHelp.h"
#include "app/TMainForm.h"
#include "cpm/TCPMSetup.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmra.h"
#include "ohmra/TFormOhmraCali.h"
#include "ohmra/TFormOhmraFComment.h"
#include "serial/TFoCom.h"
#include "serial/TSetup_COM.h"

void CreateAllWindows(int argc, const char* const* argv, bool demo)
{
    SetDemoMode(demo);
    MainForm = new TMainForm(argc, argv);
    FormDisplay = new TFormDisplay();
    FormHelp = new TFormHelp();
    FoCom = new TFoCom();
    CPMSetup = new TCPMSetup();
    Setup_COM = new TSetup_COM();
    FormChartCPM = new TFormChartCPM();
    FormReadCPMFiles = new TFormReadCPMFiles();
    FormOhmra = new TFormOhmra();
    FormOhmraCali = new TFormOhmraCali();
    FormOhmraFComment = new TFormOhmraFComment();
    FormGripo = new TFormGripo();
}

template <class T>
static void Destroy(T*& p)
{
    delete p;
    p = nullptr;
}

void DestroyAllWindows()
{
    Destroy(FormGripo);
    Destroy(FormOhmraFComment);
    Destroy(FormOhmraCali);
    Destroy(FormOhmra);
    Destroy(FormReadCPMFiles);
    Destroy(FormChartCPM);
    Destroy(Setup_COM);
    Destroy(CPMSetup);
    Destroy(FoCom);
    Destroy(FormHelp);
    Destroy(FormDisplay);
    Destroy(MainForm);
    MainState = nullptr;
}

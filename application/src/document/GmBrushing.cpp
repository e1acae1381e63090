#include "document/GmBrushing.h"

#include "document/Brushing.h"
#include "document/GmModel.h"

GmBrushing::GmBrushing(Brushing* brushing, QObject* parent) : QObject(parent), m_brushing(brushing)
{
    GmModel::instance()->addBrushing(this);
}

GmBrushing::~GmBrushing()
{
    // A model destroyed first has let go of its list; never build a new one here.
    if (GmModel* model = GmModel::existingInstance())
        model->removeBrushing(this);
    delete m_brushing;
}

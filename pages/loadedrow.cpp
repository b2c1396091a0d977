#include "pages/loadedrow.h"

LoadedRow::LoadedRow(int columns)
{
    // Setting the last column sizes the storage for every column.
    if (columns > 0)
        setData(columns - 1, Qt::DisplayRole, QVariant());
}

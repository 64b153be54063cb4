#include "data/PayrollSchema.h"

#include "engine/TableEngine.h"

namespace lv26 {

void createPayrollTables(engine::storage::Storage& storage) {
    storage.createTables();
}

void createPayrollTables(const QString& dir) {
    engine::createTables(dir);
}

} // namespace lv26

#include "data/Table.h"

#include "base/Messages.h"
#include "data/DataSource.h"
#include "data/Field.h"
#include "engine/SqliteStorage.h"
#include "engine/pg/PgStorage.h"

namespace lv26 {

namespace {

std::unique_ptr<engine::storage::Storage>& chosenStorage() {
    static std::unique_ptr<engine::storage::Storage> storage;
    return storage;
}

} // namespace

QString databaseSetting() {
    return qEnvironmentVariable("LV26_DATABASE");
}

engine::storage::Storage& tableStorage() {
    std::unique_ptr<engine::storage::Storage>& storage = chosenStorage();
    if (!storage) {
        const QString conninfo = databaseSetting();
        if (conninfo.isEmpty())
            storage = std::make_unique<engine::SqliteStorage>();
        else
            storage = std::make_unique<engine::pg::PgStorage>(conninfo);
    }
    return *storage;
}

void resetTableStorage() {
    chosenStorage().reset();
}

bool tablesOnServer() {
    return !databaseSetting().isEmpty();
}

// The table's end of the link to its master: settles and re-ranges the table on every row
// event of the master.
class TTable::MasterLink : public TDataLink {
public:
    explicit MasterLink(TTable* table) : table_(table) {}

protected:
    void ActiveChanged() override { table_->masterChanged(); }
    void DataSetChanged() override { table_->masterChanged(); }
    void DataSetScrolled(int) override { table_->masterChanged(); }
    void EditingChanged() override { table_->masterChanged(); }
    // The master's buffered rows changed in number (a control was resized), not its row.
    void LayoutChanged() override {}
    void RecordChanged(TField* field) override {
        if (!field || field->FieldName().compare(table_->masterFields_, Qt::CaseInsensitive) == 0)
            table_->masterChanged();
    }
    void CheckBrowseMode() override {
        if (table_->Active())
            table_->CheckBrowseMode();
    }

private:
    TTable* table_;
};

TTable::TTable(QObject* parent) : TDataSet(parent) {}

TTable::~TTable() {
    Close();
    masterLink_.reset();
}

TDataSource* TTable::MasterSource() const {
    return masterLink_ ? masterLink_->DataSource() : nullptr;
}

void TTable::setMasterSource(TDataSource* source) {
    if (!masterLink_)
        masterLink_ = std::make_unique<MasterLink>(this);
    masterLink_->setDataSource(source);
}

std::unique_ptr<engine::Cursor> TTable::openCursor() {
    QString index;
    std::unique_ptr<engine::Cursor> cursor = tableStorage().open(
        tableName_,
        [this, &index](const engine::TableDescription& description) {
            return index = chooseIndex(description);
        },
        requestReadOnly_ ? engine::OpenMode::ReadOnly : engine::OpenMode::ReadWriteElseReadOnly);
    setReadOnlyFlag(cursor->isReadOnly());
    bindFields(cursor->description());
    indexName_ = index;
    rangeSet_ = false;
    return cursor;
}

QString TTable::chooseIndex(const engine::TableDescription& description) const {
    const auto usable = [](const engine::IndexInfo& index) {
        return !index.descending && !index.expression;
    };
    if (indexFieldNames_.isEmpty()) {
        for (const engine::IndexInfo& index : description.indexes) {
            if (index.primary && usable(index))
                return index.name;
        }
        return description.indexes.isEmpty() ? QString() : description.indexes.first().name;
    }
    for (const engine::IndexInfo& index : description.indexes) {
        if (usable(index) && index.fields.compare(indexFieldNames_, Qt::CaseInsensitive) == 0)
            return index.name;
    }
    const QString prefix = indexFieldNames_ + QLatin1Char(';');
    for (const engine::IndexInfo& index : description.indexes) {
        if (usable(index) && index.fields.startsWith(prefix, Qt::CaseInsensitive))
            return index.name;
    }
    databaseError(Message::NoIndexForFields, {componentName(), indexFieldNames_});
}

namespace {

bool typeMatches(const TField* field, const engine::ColumnInfo& column) {
    using engine::ColumnType;
    switch (field->Kind()) {
    case FieldKind::String:
        return column.type == ColumnType::Text && column.size == field->Size();
    case FieldKind::Smallint:
        return column.type == ColumnType::Int16;
    case FieldKind::Integer:
        return column.type == ColumnType::Int32 || column.type == ColumnType::AutoInc;
    case FieldKind::Currency:
        return column.type == ColumnType::Float || column.type == ColumnType::Money;
    }
    return false;
}

void createDefaultField(TDataSet* table, const engine::ColumnInfo& column) {
    TField* field = nullptr;
    switch (column.type) {
    case engine::ColumnType::Text:
        field = new TStringField(table);
        field->setSize(column.size);
        break;
    case engine::ColumnType::Int16:
        field = new TSmallintField(table);
        break;
    case engine::ColumnType::Int32:
    case engine::ColumnType::AutoInc:
        field = new TIntegerField(table);
        break;
    case engine::ColumnType::Float:
    case engine::ColumnType::Money:
        field = new TCurrencyField(table);
        break;
    case engine::ColumnType::Other:
        return; // out of reach: no field kind holds it
    }
    field->setFieldName(column.name);
}

} // namespace

void TTable::bindFields(const engine::TableDescription& description) {
    if (Fields().isEmpty()) {
        for (const engine::ColumnInfo& column : description.columns)
            createDefaultField(this, column);
    }
    for (TField* field : Fields()) {
        if (field->Calculated())
            continue;
        int column = -1;
        for (int i = 0; i < description.columns.size(); ++i) {
            if (description.columns.at(i).name.compare(field->FieldName(), Qt::CaseInsensitive) ==
                0) {
                column = i;
                break;
            }
        }
        if (column < 0)
            databaseError(Message::FieldNotFound, {componentName(), field->FieldName()});
        if (!typeMatches(field, description.columns.at(column)))
            databaseError(Message::FieldTypeMismatch, {field->FieldName()});
        setFieldColumn(field, column);
    }
}

QVariant TTable::masterKey() const {
    TDataSet* master = masterLink_ ? masterLink_->DataSet() : nullptr;
    if (!master || !master->Active())
        return QVariant();
    return master->FieldByName(masterFields_)->Value();
}

void TTable::afterOpenCursor() {
    if (!masterLink_ || !masterLink_->Active() || masterFields_.isEmpty())
        return;
    rangeKey_ = masterKey();
    rangeSet_ = true;
    cursor()->setRange(rangeKey_, rangeKey_);
}

void TTable::initNewRecord() {
    if (!masterLink_ || !masterLink_->Active() || masterFields_.isEmpty())
        return;
    const QString keyField = indexFieldNames_.section(QLatin1Char(';'), 0, 0);
    if (TField* field = FindField(keyField))
        field->setValue(masterKey());
}

namespace {

bool sameKey(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    return a == b;
}

} // namespace

void TTable::masterChanged() {
    if (!Active() || !masterLink_ || !masterLink_->Active() || masterFields_.isEmpty())
        return;
    CheckBrowseMode();
    const QVariant key = masterKey();
    if (rangeSet_ && sameKey(key, rangeKey_))
        return;
    rangeKey_ = key;
    rangeSet_ = true;
    cursor()->setRange(key, key);
    reloadFromFirst();
}

} // namespace lv26

// Late binding by DISPID and name, and creation by class name.
#include "regaccess/control_factory.h"
#include "regaccess/dispatch.h"
#include "regaccess/members.h"
#include "regaccess/plctag.h"

#include <QMetaMethod>
#include <QMetaObject>

#include <gtest/gtest.h>

namespace regaccess {
namespace {

TEST(DispatchTest, WordValByDispid34WithOneArgument)
{
    Plctag control;
    control.setWordVal(3, -1234);
    const DispatchResult got = invoke(control, 34, DispatchKind::Method, {3});
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got.value.toInt(), -1234);
    EXPECT_EQ(invoke(control, 34, DispatchKind::PropertyGet, {3}).value.toInt(), -1234);

    ASSERT_TRUE(invoke(control, 34, DispatchKind::PropertyPut, {4, 0xFFFF}).ok());
    EXPECT_EQ(control.WordVal(4), -1);
    EXPECT_EQ(invoke(control, 34, DispatchKind::PropertyPut, {4, 70000}).error, DispatchError::Overflow);
    EXPECT_EQ(invoke(control, 34, DispatchKind::PropertyGet, {}).error, DispatchError::BadArgumentCount);
    EXPECT_EQ(invoke(control, 34, DispatchKind::PropertyGet, {QStringLiteral("x")}).error, DispatchError::TypeMismatch);
}

TEST(DispatchTest, PropertiesGetAndPutByDispid)
{
    Plctag control;
    EXPECT_EQ(invoke(control, 0, DispatchKind::PropertyGet).value.toString(), QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(invoke(control, 0, DispatchKind::PropertyPut, {QStringLiteral("10.0.0.9")}).ok());
    EXPECT_EQ(control.Host(), QStringLiteral("10.0.0.9"));
    ASSERT_TRUE(invoke(control, 9, DispatchKind::PropertyPut, {100}).ok());
    EXPECT_EQ(control.Size(), 100);
    ASSERT_TRUE(invoke(control, 2, DispatchKind::PropertyPut, {9}).ok());
    EXPECT_EQ(control.Adapter(), 7);
    ASSERT_TRUE(invoke(control, 5, DispatchKind::PropertyPut, {65536}).ok());
    EXPECT_EQ(control.Address(), 65536);
    EXPECT_EQ(invoke(control, 3, DispatchKind::PropertyPut, {40000}).error, DispatchError::Overflow);
    EXPECT_EQ(control.TimeToLive(), 500);
    ASSERT_TRUE(invoke(control, 8, DispatchKind::PropertyPut, {QStringLiteral("255.0.0.0.0")}).ok());
    EXPECT_EQ(invoke(control, 8, DispatchKind::PropertyGet).value.toString(), QStringLiteral("255.0.0.0.0"));
    EXPECT_EQ(invoke(control, 10, DispatchKind::PropertyGet).value.toInt(), 40001);
    EXPECT_EQ(invoke(control, 4, DispatchKind::PropertyGet).value.toInt(), 8001);
}

TEST(DispatchTest, ReadOnlyStateRefusesPuts)
{
    Plctag control;
    for (int id : {11, 13, 14})
        EXPECT_EQ(invoke(control, id, DispatchKind::PropertyPut, {1}).error, DispatchError::ReadOnly) << id;
    EXPECT_FALSE(invoke(control, 11, DispatchKind::PropertyGet).value.toBool());
    EXPECT_EQ(invoke(control, 13, DispatchKind::PropertyGet).value.toInt(), control.DataPtr());
}

TEST(DispatchTest, CursorAndParameterisedViewsAgree)
{
    Plctag control;
    ASSERT_TRUE(invoke(control, 15, DispatchKind::PropertyPut, {2}).ok());
    ASSERT_TRUE(invoke(control, 16, DispatchKind::PropertyPut, {5}).ok());
    ASSERT_TRUE(invoke(control, 17, DispatchKind::PropertyPut, {true}).ok());
    EXPECT_TRUE(invoke(control, 32, DispatchKind::PropertyGet, {2, 5}).value.toBool());
    ASSERT_TRUE(invoke(control, 32, DispatchKind::PropertyPut, {2, 5, 0}).ok());
    EXPECT_FALSE(control.BitVal(2, 5));

    ASSERT_TRUE(invoke(control, 38, DispatchKind::PropertyPut, {1, 12345678}).ok());
    EXPECT_EQ(invoke(control, 22, DispatchKind::PropertyGet).value.toInt(), 0) << "cursor 2 is another element";
    ASSERT_TRUE(invoke(control, 15, DispatchKind::PropertyPut, {1}).ok());
    EXPECT_EQ(invoke(control, 22, DispatchKind::PropertyGet).value.toInt(), 12345678);

    ASSERT_TRUE(invoke(control, 36, DispatchKind::PropertyPut, {4, 2.5}).ok());
    EXPECT_FLOAT_EQ(invoke(control, 36, DispatchKind::Method, {4}).value.toFloat(), 2.5f);
    ASSERT_TRUE(invoke(control, 33, DispatchKind::PropertyPut, {7, 0x1AB}).ok());
    EXPECT_EQ(control.ByteVal(7), 0xAB);
    ASSERT_TRUE(invoke(control, 35, DispatchKind::PropertyPut, {0, 12345}).ok());
    EXPECT_EQ(control.WordVal(0), static_cast<std::int16_t>(0x9999));
    ASSERT_TRUE(invoke(control, 37, DispatchKind::PropertyPut, {0, -7}).ok());
    EXPECT_EQ(invoke(control, 37, DispatchKind::PropertyGet, {0}).value.toInt(), -7);
}

TEST(DispatchTest, MethodsByDispid)
{
    Plctag control;
    EXPECT_FALSE(invoke(control, 25, DispatchKind::Method).value.toBool());
    EXPECT_FALSE(invoke(control, 26, DispatchKind::Method).value.toBool());
    EXPECT_TRUE(invoke(control, 30, DispatchKind::Method, {2, 4, 0, 1, 100, QVariant(), true}).value.toBool());
    EXPECT_FALSE(invoke(control, 30, DispatchKind::Method, {5, 4, 0, 1, 100, QVariant(), true}).value.toBool());
    EXPECT_TRUE(invoke(control, 28, DispatchKind::Method, {2, 4, 0}).value.toBool());
    EXPECT_TRUE(invoke(control, 29, DispatchKind::Method, {2, 4, 0}).value.toBool());
    EXPECT_TRUE(invoke(control, 27, DispatchKind::Method, {2, 4, 0}).value.toBool());
    EXPECT_FALSE(invoke(control, 27, DispatchKind::Method, {2, 4, 0}).value.toBool());
    EXPECT_EQ(invoke(control, 24, DispatchKind::PropertyPut, {1}).error, DispatchError::UnknownMember);
    EXPECT_EQ(invoke(control, 31, DispatchKind::Method, {}).error, DispatchError::BadArgumentCount);
    EXPECT_EQ(invoke(control, 99, DispatchKind::Method).error, DispatchError::UnknownMember);
}

TEST(DispatchTest, NamesAndDispidsMatchTheMetaObject)
{
    const QMetaObject& meta = Plctag::staticMetaObject;
    for (int id = 1; id <= 38; ++id) {
        const QString name = nameOfDispId(id);
        ASSERT_FALSE(name.isEmpty()) << id;
        EXPECT_EQ(dispIdOfName(name), id);
        EXPECT_EQ(dispIdOfName(name.toUpper()), id);
        const QByteArray latin = name.toLatin1();
        const bool isProperty = meta.indexOfProperty(latin.constData()) >= 0;
        bool isMethod = false;
        for (int m = 0; m < meta.methodCount(); ++m)
            isMethod = isMethod || meta.method(m).name() == latin;
        EXPECT_TRUE(isProperty || isMethod) << latin.constData();
    }
    EXPECT_EQ(nameOfDispId(0), QStringLiteral("Host"));
    EXPECT_EQ(dispIdOfName(u"AboutBox"), -552);
    EXPECT_FALSE(dispIdOfName(u"NoSuchMember").has_value());
    for (int id = 1; id <= 9; ++id) {
        const QByteArray signal = eventName(id).toLatin1();
        bool found = false;
        for (int m = 0; m < meta.methodCount(); ++m)
            found = found || (meta.method(m).methodType() == QMetaMethod::Signal && meta.method(m).name() == signal);
        EXPECT_TRUE(found) << signal.constData();
    }
}

QMetaType MetaTypeOf(ValueType type)
{
    switch (type) {
    case ValueType::None: return QMetaType::fromType<void>();
    case ValueType::Bool: return QMetaType::fromType<bool>();
    case ValueType::Int16:
    case ValueType::Word:
    case ValueType::Int32: return QMetaType::fromType<int>();
    case ValueType::Float: return QMetaType::fromType<float>();
    case ValueType::Text: return QMetaType::fromType<QString>();
    }
    return {};
}

// The member table and plctag.h's Q_PROPERTY and Q_INVOKABLE declarations
// describe the same members: a property of the same name and type, writable
// unless read-only; an indexed property or method as an invokable with its
// parameters and result; and no property of the control outside the table.
TEST(MemberTableTest, AgreesWithTheMetaObject)
{
    const QMetaObject& meta = Plctag::staticMetaObject;
    for (const Member& member : controlMembers()) {
        SCOPED_TRACE(member.name);
        EXPECT_EQ(memberOfDispId(member.dispId), &member);
        const int property = meta.indexOfProperty(member.name);
        if (member.shape == MemberShape::Property || member.shape == MemberShape::ReadOnlyProperty) {
            ASSERT_GE(property, 0);
            EXPECT_EQ(meta.property(property).metaType(), MetaTypeOf(member.type));
            EXPECT_EQ(meta.property(property).isWritable(), member.shape == MemberShape::Property);
            continue;
        }
        EXPECT_LT(property, 0);
        int found = 0;
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QMetaMethod method = meta.method(i);
            found += method.methodType() == QMetaMethod::Method && method.name() == member.name &&
                method.parameterCount() == member.parameters && method.returnMetaType() == MetaTypeOf(member.type);
        }
        EXPECT_EQ(found, 1);
    }
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const Member* member = memberOfName(QString::fromLatin1(meta.property(i).name()));
        ASSERT_NE(member, nullptr) << meta.property(i).name();
        EXPECT_TRUE(member->shape == MemberShape::Property || member->shape == MemberShape::ReadOnlyProperty);
    }
}

TEST(ControlFactoryTest, CreatesByClassNameOnly)
{
    QObject owner;
    Plctag* control = createControl(QStringLiteral("PLCTAGLib.Plctag"), &owner);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->parent(), &owner);
    EXPECT_NE(createControl(QStringLiteral("PLCTAG.PlctagCtrl.1"), &owner), nullptr);
    EXPECT_EQ(createControl(QStringLiteral("PLCTAGLib.Other"), &owner), nullptr);
}

TEST(ControlDefaultsTest, NewControlHasTheDocumentedDefaults)
{
    Plctag control;
    EXPECT_EQ(control.Host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(control.Port(), 8001);
    EXPECT_EQ(control.TimeToLive(), 500);
    EXPECT_EQ(control.RoutePath(), QStringLiteral("1.0.0.0.0"));
    EXPECT_EQ(control.Address(), 1);
    EXPECT_EQ(control.Size(), 1);
    EXPECT_EQ(control.SlaveReg(), 40001);
    EXPECT_EQ(control.Adapter(), 0);
    EXPECT_EQ(control.Function(), 0);
    EXPECT_EQ(control.RegType(), 0);
    EXPECT_FALSE(control.Busy());
    EXPECT_EQ(control.ElementIndex(), 0);
    EXPECT_EQ(control.BitIndex(), 0);
    EXPECT_FALSE(control.isModified());
    control.setSize(5);
    EXPECT_TRUE(control.isModified());
}

} // namespace
} // namespace regaccess

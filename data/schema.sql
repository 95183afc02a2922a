-- The delivered card database: eight tables, their indexes and seed rows.
-- Text columns compare without regard to ASCII case, as the original engine did; the
-- declared sizes are the larger of the entry limit and the import cut, in GBK bytes.

CREATE TABLE D_B (
    ID      INTEGER PRIMARY KEY AUTOINCREMENT,
    theDate VARCHAR(10)  COLLATE NOCASE NOT NULL DEFAULT '',
    theType VARCHAR(10)  COLLATE NOCASE NOT NULL DEFAULT '',
    BName   VARCHAR(20)  COLLATE NOCASE NOT NULL DEFAULT '',
    BSex    VARCHAR(4)   COLLATE NOCASE NOT NULL DEFAULT '',
    BPho    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    BMob    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    BMail   VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    BQQ     VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    BMSN    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    BWW     VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    BDes    VARCHAR(200) COLLATE NOCASE NOT NULL DEFAULT '',
    DArea   VARCHAR(10)  COLLATE NOCASE NOT NULL DEFAULT '',
    DCity   VARCHAR(20)  COLLATE NOCASE NOT NULL DEFAULT '',
    DName   VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    DPart   VARCHAR(20)  COLLATE NOCASE NOT NULL DEFAULT '',
    DJob    VARCHAR(20)  COLLATE NOCASE NOT NULL DEFAULT '',
    DAdd    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    DPho    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    DFax    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    DPos    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    DWWW    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    FAdd    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    FPho    VARCHAR(50)  COLLATE NOCASE NOT NULL DEFAULT '',
    FPro    VARCHAR(20)  COLLATE NOCASE NOT NULL DEFAULT '',
    FDes    VARCHAR(200) COLLATE NOCASE NOT NULL DEFAULT '',
    theDel  VARCHAR(2)   COLLATE NOCASE NOT NULL DEFAULT '否'
);
-- The duplicate test of the editor and the import; without it every imported row would
-- decrypt the whole card table.
CREATE INDEX D_B_Duplicate ON D_B (theType, BName, BSex);
-- The live-card list, newest first; with the name it also serves the name search and the
-- sort by name without reading the cards.
CREATE INDEX D_B_Live ON D_B (theDel, ID, BName);

CREATE TABLE D_Type (
    ID      INTEGER PRIMARY KEY AUTOINCREMENT,
    theName VARCHAR(10) COLLATE NOCASE NOT NULL DEFAULT ''
);

CREATE TABLE D_Sex (
    theName VARCHAR(4) COLLATE NOCASE NOT NULL DEFAULT ''
);

CREATE TABLE D_P (
    theName VARCHAR(10) COLLATE NOCASE NOT NULL DEFAULT ''
);

CREATE TABLE D_Mr (
    theType VARCHAR(10) COLLATE NOCASE NOT NULL DEFAULT '',
    theSex  VARCHAR(4)  COLLATE NOCASE NOT NULL DEFAULT '',
    theP    VARCHAR(10) COLLATE NOCASE NOT NULL DEFAULT ''
);

CREATE TABLE D_XS (
    ID       INTEGER PRIMARY KEY,
    theName  VARCHAR(20) COLLATE NOCASE NOT NULL DEFAULT '',
    theV     VARCHAR(20) COLLATE NOCASE NOT NULL DEFAULT '',
    theWidth INTEGER NOT NULL DEFAULT 0,
    theXS    INTEGER NOT NULL DEFAULT 1,
    theInt   INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE DList (
    ID    INTEGER PRIMARY KEY AUTOINCREMENT,
    DID   INTEGER NOT NULL DEFAULT 0,
    LDate VARCHAR(10)  COLLATE NOCASE NOT NULL DEFAULT '',
    LType VARCHAR(10)  COLLATE NOCASE NOT NULL DEFAULT '',
    LMemo VARCHAR(100) COLLATE NOCASE NOT NULL DEFAULT ''
);
CREATE INDEX DList_DID ON DList (DID);

CREATE TABLE DJNR (
    ID    INTEGER PRIMARY KEY AUTOINCREMENT,
    DID   INTEGER NOT NULL DEFAULT 0,
    JDate VARCHAR(10)  COLLATE NOCASE NOT NULL DEFAULT '',
    JMemo VARCHAR(100) COLLATE NOCASE NOT NULL DEFAULT ''
);
CREATE INDEX DJNR_DID ON DJNR (DID);

INSERT INTO D_Sex (theName) VALUES ('男'), ('女');

INSERT INTO D_P (theName) VALUES
    ('北京'),
    ('天津'),
    ('河北'),
    ('山西'),
    ('内蒙古'),
    ('辽宁'),
    ('吉林'),
    ('黑龙江'),
    ('上海'),
    ('江苏'),
    ('浙江'),
    ('安徽'),
    ('福建'),
    ('江西'),
    ('山东'),
    ('河南'),
    ('湖北'),
    ('湖南'),
    ('广东'),
    ('广西'),
    ('海南'),
    ('重庆'),
    ('四川'),
    ('贵州'),
    ('云南'),
    ('西藏'),
    ('陕西'),
    ('甘肃'),
    ('青海'),
    ('宁夏'),
    ('新疆'),
    ('台湾'),
    ('香港'),
    ('澳门');

INSERT INTO D_Type (theName) VALUES
    ('客户'),
    ('供应商'),
    ('合作伙伴'),
    ('同事'),
    ('朋友'),
    ('同学'),
    ('家人'),
    ('其他');

INSERT INTO D_Mr (theType, theSex, theP) VALUES ('客户', '男', '北京');

INSERT INTO D_XS (ID, theName, theV, theWidth, theXS, theInt) VALUES
    (1, 'theType', '分类', 80, 1, 1),
    (2, 'BName', '姓名', 100, 1, 2),
    (3, 'BSex', '性别', 40, 1, 3),
    (4, 'BPho', '固定电话', 100, 1, 4),
    (5, 'BMob', '移动电话', 100, 1, 5),
    (6, 'BMail', '电子邮箱', 100, 1, 6),
    (7, 'BQQ', 'QQ号码', 100, 1, 7),
    (8, 'BMSN', 'MSN号码', 100, 1, 8),
    (9, 'BWW', '阿里旺旺', 100, 1, 9),
    (10, 'BDes', '描述', 200, 1, 10),
    (11, 'DArea', '省份', 80, 1, 11),
    (12, 'DCity', '城市', 80, 1, 12),
    (13, 'DName', '单位名称', 150, 1, 13),
    (14, 'DPart', '所在部门', 80, 1, 14),
    (15, 'DJob', '担任职务', 80, 1, 15),
    (16, 'DAdd', '单位地址', 100, 1, 16),
    (17, 'DPho', '单位电话', 100, 1, 17),
    (18, 'DFax', '单位传真', 200, 1, 18),
    (19, 'DPos', '邮政编码', 60, 1, 19),
    (20, 'DWWW', '单位网站', 100, 1, 20),
    (21, 'FAdd', '家庭地址', 200, 1, 21),
    (22, 'FPho', '家庭电话', 100, 1, 22),
    (23, 'FPro', '家属姓名', 100, 1, 23),
    (24, 'FDes', '补充信息', 200, 1, 24),
    (26, 'theDate', '录入日期', 80, 1, 25);

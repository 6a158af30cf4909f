-- The tables the program reads, for the embedded SQLite engine (tests and demo data).
-- Declared types decide how values read: DATE/DATETIME hold ISO-8601 text ('YYYY-MM-DD' or
-- 'YYYY-MM-DD HH:MM:SS') and read as dates; BOOLEAN holds 0/1 and reads as True/False;
-- INTEGER, REAL and MONEY read as numbers; TEXT as text. Every table has its own primary key:
-- updates of a row set find their row through it.

CREATE TABLE Company (
  ID INTEGER PRIMARY KEY,
  Name TEXT, Address1 TEXT, Address2 TEXT, City TEXT, State TEXT, Zip TEXT,
  Phone TEXT, Fax TEXT, Email TEXT, Website TEXT,
  KeyPressDelay REAL, TaxRate REAL,
  MaintenanceEmail TEXT, EmailFromAddress TEXT, EmailFromName TEXT, EmailServer TEXT
);

CREATE TABLE Customer (ID INTEGER PRIMARY KEY, Name TEXT);

CREATE TABLE Tour (
  ID INTEGER PRIMARY KEY,
  TourName TEXT,
  CustomerID INTEGER,
  Status TEXT
);

CREATE TABLE TourItems (
  ID INTEGER PRIMARY KEY,
  TourID INTEGER,
  EndDate DATETIME
);

CREATE TABLE Invoice (
  ID INTEGER PRIMARY KEY,
  TourID INTEGER,
  Type TEXT,
  InvoiceTotal MONEY,
  Paid MONEY
);

CREATE TABLE Bus (ID INTEGER PRIMARY KEY, Name TEXT);

CREATE TABLE Driver (ID INTEGER PRIMARY KEY, Name TEXT, Email TEXT);

CREATE TABLE HexmileTicket (
  ID INTEGER PRIMARY KEY,
  BusID INTEGER,
  DriverID INTEGER,
  AddDriverID INTEGER,
  TicketDate DATETIME,
  Miles INTEGER,
  Location TEXT,
  Priority TEXT,
  Status TEXT,
  AltReplyEmail TEXT,
  AddNotifyEmail TEXT,
  EnteredBy TEXT,
  EnteredDate DATETIME,
  Description TEXT,
  EmailSent BOOLEAN
);

CREATE TABLE HexmileAction (
  ID INTEGER PRIMARY KEY,
  TicketID INTEGER,
  ActionDate DATETIME,
  EmailDriver BOOLEAN,
  AddNotifyEmail TEXT,
  Description TEXT,
  EnteredBy TEXT,
  EnteredDate DATETIME,
  EmailSent BOOLEAN
);

CREATE INDEX TourItemsByTour ON TourItems (TourID);
CREATE INDEX InvoiceByTour ON Invoice (TourID);

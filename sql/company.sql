-- The Company row (docs/setup-*.md): the program reads the first row of Company for the company's
-- details, the address fleet tickets go to (MaintenanceEmail), the sender of fleet alerts
-- (EmailFromAddress, EmailFromName) and the mail server (EmailServer: README, "Mail servers").
-- Write your own values; no column may be Null (an empty text '' is fine). The same on every
-- engine.
INSERT INTO Company (ID, Name, Address1, Address2, City, State, Zip, Phone, Fax, Email, Website,
                     KeyPressDelay, TaxRate, MaintenanceEmail, EmailFromAddress, EmailFromName,
                     EmailServer)
VALUES (1, 'Corvane Tours', '1200 Depot Road', '', 'Austin', 'TX', '78701', '512-555-0100', '',
        'office@corvanetours.com', 'www.corvanetours.com', 0, 0.0825,
        'maintenance@corvanetours.com', 'fleet@corvanetours.com', 'Corvane Fleet',
        'smtp://mail.corvanetours.com:587');

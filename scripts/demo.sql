-- Demo and test data: small databases that exercise the client.
SET NAMES utf8mb4;

DROP DATABASE IF EXISTS shop;
CREATE DATABASE shop CHARACTER SET utf8mb4;
USE shop;
-- Exactly three tables.
CREATE TABLE customers (
    id INT PRIMARY KEY,
    name VARCHAR(60) NOT NULL,
    city VARCHAR(60) NULL,
    joined DATE NULL,
    credit DECIMAL(10,2) NULL
);
INSERT INTO customers VALUES
    (1, 'Anna Kowalska', 'Kraków', '2021-03-14', 120.50),
    (2, 'Jürgen Groß', 'München', '2020-11-02', NULL),
    (3, 'Zoë Ødegaard', NULL, NULL, 0.00),
    (4, '李小龙', '香港', '2019-01-01', 99999.99),
    (5, 'O''Brien', 'Dublin', '2022-07-30', 12.00);
CREATE TABLE products (
    code CHAR(8) PRIMARY KEY,
    title VARCHAR(100) NOT NULL,
    price DOUBLE NOT NULL,
    stock SMALLINT NULL,
    picture MEDIUMBLOB NULL,
    notes MEDIUMTEXT NULL
);
INSERT INTO products VALUES
    ('P-001', 'Crème brûlée torch', 24.9, 12, X'89504E470D0A1A0A', 'Handle with care'),
    ('P-002', 'Smørrebrød board', 15.5, NULL, NULL, NULL),
    ('P-003', '100% cotton towel', 7.25, 300, X'00FF00FF', 'Contains a % sign and an _ underscore');
CREATE TABLE orders (
    id BIGINT PRIMARY KEY,
    customer_id INT NOT NULL,
    product_code CHAR(8) NOT NULL,
    quantity TINYINT NOT NULL,
    ordered_at DATETIME NOT NULL,
    shipped_at DATETIME NULL
);
INSERT INTO orders VALUES
    (1, 1, 'P-001', 1, '2024-01-05 10:00:00', '2024-01-06 09:30:00'),
    (2, 2, 'P-003', 4, '2024-02-11 16:45:00', NULL),
    (3, 4, 'P-002', 2, '2024-03-01 08:15:00', NULL);

DROP DATABASE IF EXISTS empty_db;
CREATE DATABASE empty_db;

DROP DATABASE IF EXISTS demo;
CREATE DATABASE demo CHARACTER SET utf8mb4;
USE demo;
CREATE TABLE no_rows (id INT, label VARCHAR(20));
CREATE TABLE with_nulls (id INT, a VARCHAR(10) NULL, b INT NULL, c DATE NULL);
INSERT INTO with_nulls VALUES (1, NULL, 2, '2023-05-05'), (NULL, 'x', NULL, NULL), (3, '', 0, NULL);
CREATE TABLE `order items` (id INT, item VARCHAR(20));
INSERT INTO `order items` VALUES (1, 'spoon'), (2, 'fork');
CREATE TABLE `back``tick` (id INT);
INSERT INTO `back``tick` VALUES (7);
CREATE TABLE `zażółć` (`gęś` VARCHAR(20), `jaźń` INT);
INSERT INTO `zażółć` VALUES ('żółw', 1), ('ćma', 2);
CREATE TABLE big_table (
    id INT PRIMARY KEY,
    label VARCHAR(30) NOT NULL,
    amount DECIMAL(12,2) NOT NULL,
    ratio DOUBLE NULL,
    created DATE NOT NULL,
    payload BLOB NULL
);
SET SESSION max_recursive_iterations = 100000;
INSERT INTO big_table
WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < 10000)
SELECT n, CONCAT('row ', n), n * 1.25, IF(n % 7 = 0, NULL, n / 3), DATE_ADD('2020-01-01', INTERVAL n % 1500 DAY),
       IF(n % 100 = 0, UNHEX('DEADBEEF'), NULL)
FROM seq;

DROP DATABASE IF EXISTS `kraków`;
CREATE DATABASE `kraków` CHARACTER SET utf8mb4;
CREATE TABLE `kraków`.`rynek` (`nazwa` VARCHAR(30));
INSERT INTO `kraków`.`rynek` VALUES ('Sukiennice');

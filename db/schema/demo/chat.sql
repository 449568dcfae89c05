-- A small believable data set for the chat database: one company, three
-- operators with different rights, visitors on the site with the pages they
-- saw, and one running conversation.

INSERT INTO Company (ID, CompanyName, SiteUrl) VALUES (1, '示例科技有限公司', 'http://www.example.com/');

INSERT INTO userinfo (ID, name, CompanyID, Popedom, Invite, conview) VALUES (5, '王芳', 1, 1, 1, 1);
INSERT INTO userinfo (ID, name, CompanyID, Popedom, Invite, conview) VALUES (12, '李明', 1, 0, 1, 0);
INSERT INTO userinfo (ID, name, CompanyID, Popedom, Invite, conview) VALUES (7, '张伟', 1, 0, 0, 0);
-- Demo logins (crypt yescrypt hashes): 5 / demo5, 12 / demo12, 7 / demo7.
UPDATE userinfo SET pwdHash = '$y$j9T$p8cIM4WD/auHEna99Y4Nz1$1X8rikqLqXZGxqsX5beJKEGomLwaeOVDwKbKdJ6Zri1' WHERE ID = 5;
UPDATE userinfo SET pwdHash = '$y$j9T$bwKYCftk2WwT8a3zJ7g1v.$nkwH8g8I4SfgzBSJq3sSpH.K6Fl43PmoVAxd9viV0i3' WHERE ID = 12;
UPDATE userinfo SET pwdHash = '$y$j9T$zcHpTTxMzq2b63LKkHfqR.$YZO5pCeDUH53IlL5SqhMH2jXi8jwNLVP0sjCnbln0T4' WHERE ID = 7;

INSERT INTO onlineCst (cstLabel, NickName, CompanyID, visittime, beChatting, Invited, searchkey, sourcepage, csarea, IP)
  VALUES ('20240520091502731', '访客731', 1, '2024-05-20 09:15:02', 1, 2, '在线客服 软件', 'http://www.baidu.com/s?wd=%E5%9C%A8%E7%BA%BF%E5%AE%A2%E6%9C%8D', '北京', '123.118.4.21');
INSERT INTO onlineCst (cstLabel, NickName, CompanyID, visittime, beChatting, Invited, searchkey, sourcepage, csarea, IP)
  VALUES ('20240520093347112', '访客112', 1, '2024-05-20 09:33:47', 0, 1, '', 'http://www.example.com/news/', '上海', '58.37.120.9');
INSERT INTO onlineCst (cstLabel, NickName, CompanyID, visittime, beChatting, Invited, searchkey, sourcepage, csarea, IP)
  VALUES ('20240520094005468', '访客468', 1, '2024-05-20 09:40:05', 0, 0, '价格', '', '广东 深圳', '183.14.77.201');

INSERT INTO cstTrack (cstLabel, presentTime, presentPage) VALUES ('20240520091502731', '2024-05-20 09:15:02', 'http://www.example.com/');
INSERT INTO cstTrack (cstLabel, presentTime, presentPage) VALUES ('20240520091502731', '2024-05-20 09:16:40', 'http://www.example.com/products/');
INSERT INTO cstTrack (cstLabel, presentTime, presentPage) VALUES ('20240520093347112', '2024-05-20 09:33:47', 'http://www.example.com/news/');
INSERT INTO cstTrack (cstLabel, presentTime, presentPage) VALUES ('20240520094005468', '2024-05-20 09:40:05', 'http://www.example.com/price.html');

INSERT INTO conversation (cid, cstlabel, serid, ctime) VALUES (1, '20240520091502731', 5, '2024-05-20 09:17:10');
INSERT INTO C_members (cid, serid, cstlabel, addtime, IsChat) VALUES (1, 0, '20240520091502731', '2024-05-20 09:17:10', 1);
INSERT INTO C_members (cid, serid, cstlabel, addtime, IsChat) VALUES (1, 5, '', '2024-05-20 09:17:10', 1);
INSERT INTO preMsg (cstlabel, conid) VALUES ('20240520091502731', 1);

INSERT INTO msg (IP, issystem, readFlag, isDeleted, userid_Send, cstLabel, msgApp, msgContent, nickName, msgTime, conid)
  VALUES ('123.118.4.21', 0, ',5,', 0, 0, '20240520091502731', '', '你好，请问这款软件支持多少个客服同时在线？', '访客731', '2024-05-20 09:17:25', 1);
INSERT INTO msg (IP, userID_send, msgApp, msgContent, msgTime, conid, readFlag, cstLabel, nickName)
  VALUES ('10.0.0.15', 5, '', '您好！标准版支持10个客服同时在线，企业版不限。', '2024-05-20 09:18:02', 1, '', '', '');
